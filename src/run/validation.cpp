// Set-up validation: a model the solver cannot evaluate is refused before any
// data file is opened and before the key press, instead of running on with
// infinite or NaN constants and reporting success.
#include "run/validation.h"

#include <cmath>

#include "output/fatal.h"
#include "run/model.h"
#include "run/settings.h"
#include "tables/bessel_zeros.h"

namespace {

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

void require_finite_positive(const char* what, double value) {
  if (!finite_positive(value)) refuse_model("Invalid model: %s = %.17g must be finite and positive", what, value);
}

}  // namespace

void validate_model(const gmodel* mod, time_range_in_file times) {
  if (mod->flag_outer < 0 || mod->flag_outer > 2)
    refuse_model("Invalid model: flag_outer = %d must be 0, 1 or 2", mod->flag_outer);
  if (mod->flag_outer == 2 && !has_supply_coefficients(mod->l))
    refuse_model("Invalid model: flag_outer = 2 needs l = 0.25, 0.3125, 0.4 or 10, not l = %.17g", mod->l);

  require_finite_positive("mass", mod->mass);
  require_finite_positive("r_out_disk", mod->r_out_disk);
  require_finite_positive("texp (derived, s)", mod->texp);
  require_finite_positive("nu0 (derived)", mod->nu0);
  require_finite_positive("kappa (derived)", mod->kappa);

  if (NUM_TIME >= 2) {
    if (!finite_positive(times.min_time))
      refuse_model("Invalid model: MIN_TIME = %.17g must be finite and positive for NUM_TIME = %d", times.min_time,
                   NUM_TIME);
    if (!finite_positive(times.max_time))
      refuse_model("Invalid model: MAX_TIME = %.17g must be finite and positive for NUM_TIME = %d", times.max_time,
                   NUM_TIME);
  }

  // The normalisation of the initial surface density, as the density law forms it.
  const double index = 2.0 + mod->sigma_index;
  const double norm = 1.0 - std::pow(mod->r_mass_in / mod->r_mass_out, index);
  if (!std::isfinite(norm) || norm == 0.0)
    refuse_model(
        "Invalid model: the initial surface density cannot be normalised: 1 - (r_ign_in/r_out_disk)^(2 + sigma_index) "
        "= %.17g (r_ign_in = %.17g, sigma_index = %.17g)",
        norm, mod->r_mass_in / mod->r_mass_out, mod->sigma_index);
}
