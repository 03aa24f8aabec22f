// Set-up validation: a model the solver cannot evaluate is refused before any
// data file is opened and before the key press, instead of running on with
// infinite or NaN constants and reporting success.
#include "run/validation.h"

#include <cmath>

#include "exact/bessel_modes.h"
#include "exact/errors.h"
#include "model/gmodel.h"
#include "model/settings.h"
#include "output/fatal.h"
#include "run/exact_model.h"
#include "run/run_files.h"
#include "solver/initial_torque.h"
#include "tables/mesh.h"

namespace {

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

bool require_finite_positive(const char* what, double value, refusal_text& why) {
  if (finite_positive(value)) return true;
  return refuse(why, "Invalid model: %s = %.17g must be finite and positive", what, value);
}

}  // namespace

void validate_order(const gmodel* mod) {
  refusal_text why{};
  if (!check_order_of_model(mod, why)) refuse_model("%s", why.data());
}

bool check_order_of_model(const gmodel* mod, refusal_text& why) {
  try {
    velmora::check_order(mod->l);
  } catch (const velmora::invalid_parameter& e) {
    return refuse(why, "Invalid model: %s", e.what());
  }
  return true;
}

void validate_model(gmodel* mod, time_range_in_file times) {
  refusal_text why{};
  if (!check_model(mod, times, why)) refuse_model("%s", why.data());
}

bool check_model(gmodel* mod, time_range_in_file times, refusal_text& why) {
  if (!check_run_name(why)) return false;
  if (mod->flag_outer < 0 || mod->flag_outer > 2)
    return refuse(why, "Invalid model: flag_outer = %d must be 0, 1 or 2", mod->flag_outer);
  // A table of the supply is the supply law of mode 2; in another mode it would be silently ignored.
  if (SUPPLY_FILE[0] != '\0' && mod->flag_outer != 2)
    return refuse(why,
                  "Invalid model: supply_file = %.400s needs flag_outer = 2 (the outer supply from a table), "
                  "not flag_outer = %d",
                  SUPPLY_FILE.data(), mod->flag_outer);
  if (!check_order_of_model(mod, why)) return false;

  if (!require_finite_positive("mass", mod->mass, why) || !require_finite_positive("r_out_disk", mod->r_out_disk, why) ||
      !require_finite_positive("texp (derived, s)", mod->texp, why) ||
      !require_finite_positive("nu0 (derived)", mod->nu0, why) ||
      !require_finite_positive("kappa (derived)", mod->kappa, why))
    return false;

  if (NUM_TIME >= 1 && !finite_positive(times.min_time))
    return refuse(why, "Invalid model: MIN_TIME = %.17g must be finite and positive for NUM_TIME = %d", times.min_time,
                  NUM_TIME);
  if (NUM_TIME >= 2) {
    if (!finite_positive(times.max_time))
      return refuse(why, "Invalid model: MAX_TIME = %.17g must be finite and positive for NUM_TIME = %d", times.max_time,
                   NUM_TIME);
  }

  // Finite in units of texp can still overflow in seconds (1e306 texp).
  if (NUM_TIME >= 1 && !std::isfinite(MIN_TIME))
    return refuse(why, "Invalid model: MIN_TIME = %.17g texp is out of range in seconds (texp = %.17g s)",
                  times.min_time, mod->texp);
  if (NUM_TIME >= 2 && !std::isfinite(MAX_TIME))
    return refuse(why, "Invalid model: MAX_TIME = %.17g texp is out of range in seconds (texp = %.17g s)",
                  times.max_time, mod->texp);

  // The normalisation of the initial surface density, as the density law forms it.
  const double index = 2.0 + mod->sigma_index;
  const double norm = 1.0 - std::pow(mod->r_mass_in / mod->r_mass_out, index);
  if (!std::isfinite(norm) || norm == 0.0)
    return refuse(why,
        "Invalid model: the initial surface density cannot be normalised: 1 - (r_ign_in/r_out_disk)^(2 + sigma_index) "
        "= %.17g (r_ign_in = %.17g, sigma_index = %.17g)",
        norm, mod->r_mass_in / mod->r_mass_out, mod->sigma_index);

  // Extreme but finite inputs (a viscous time of 1e-300 s, a disc mass of
  // 1e300 g) can still overflow the initial torque; nothing sensible follows.
  std::array<double, NUM_COOR> x{};
  make_mesh(MINX * mod->a, mod->a, NUM_COOR, MESH_LINEAR, x.data());
  for (double xj : x) {
    const double F = F_initial(xj, mod);
    if (!std::isfinite(F))
      return refuse(why, "Invalid model: the initial torque is %g at x = %g (r = %.6e cm): mass, mdisk or texp is out of range",
                    F, xj, mod->r_out_vis * std::pow(xj, 4.0 * mod->l));
  }
  // The rules of the exact solution, which the program shares: among them a
  // non-negative mdisk, a non-empty ignition zone inside the disc, a finite
  // mdot_out.
  try {
    velmora::check_parameters(exact_parameters_of(mod));
  } catch (const velmora::invalid_parameter& e) {
    return refuse(why, "Invalid model: %s", e.what());
  }
  return true;
}
