// Set-up validation: a model the solver cannot evaluate is refused before any
// data file is opened and before the key press, instead of running on with
// infinite or NaN constants and reporting success.
#include "run/validation.h"

#include <cmath>

#include "exact/bessel_modes.h"
#include "exact/disc_model.h"
#include "exact/errors.h"
#include "exact/output_times.h"
#include "exact/supply_history.h"
#include "model/gmodel.h"
#include "model/parameter_values.h"
#include "model/settings.h"
#include "output/fatal.h"
#include "run/run_files.h"
#include "solver/initial_torque.h"
#include "tables/mesh.h"

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

void validate_model(gmodel* mod, const parameter_values& values) {
  refusal_text why{};
  if (!check_model(mod, values, why)) refuse_model("%s", why.data());
}

bool check_model(gmodel* mod, const parameter_values& values, refusal_text& why) {
  if (!check_run_name(why)) return false;
  if (!check_order_of_model(mod, why)) return false;
  // The model's physical quantities, given and derived, by the rules of the
  // exact solution (the module and the tools refuse with the same words).
  try {
    velmora::check_parameters(velmora::disc_parameters_of(values));
  } catch (const velmora::invalid_parameter& e) {
    return refuse(why, "Invalid model: %s", e.what());
  }
  try {
    velmora::check_supply_file_mode(values.supply_file.data(), values.flag_outer);
  } catch (const velmora::invalid_parameter& e) {
    return refuse(why, "Invalid model: %s", e.what());
  }
  try {
    velmora::check_output_times(values.min_time, values.max_time, values.num_time, mod->texp);
  } catch (const velmora::invalid_parameter& e) {
    return refuse(why, "Invalid model: %s", e.what());
  }

  // The original algorithm forms the initial torque on its mesh from
  // intermediate products of its own, which may overflow where the torque
  // itself does not.
  std::array<double, NUM_COOR> x{};
  make_mesh(MINX * mod->a, mod->a, NUM_COOR, MESH_LINEAR, x.data());
  for (double xj : x) {
    const double F = F_initial(xj, mod);
    if (!std::isfinite(F))
      return refuse(why, "Invalid model: the initial torque is %g at x = %g (r = %.6e cm): mass, mdisk or texp is out of range",
                    F, xj, mod->r_out_vis * std::pow(xj, 4.0 * mod->l));
  }
  return true;
}
