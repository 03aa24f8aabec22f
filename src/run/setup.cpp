// Set-up of a run: the parameter file, the constants of the viscous solution,
// the evaluation radius and the key press.
//
// The viscosity law nu = nu0 r^b, b = 2 - 0.5/l, fixes the viscous time as
// the e-folding time of the first Bessel mode,
//   texp = (l / z_0)^2 (16/3) r_out^(0.5/l) / nu0,
// with z_0 the first zero of J_(l-1); kappa is the same viscosity in the
// angular-momentum variable of the Green's function,
//   kappa^2 = 16 l^2 / (3 nu0 (G mass)^(0.5/l)).
// Either texp (days) or kappa is given in the parameter file; the other
// follows, and both are then recomputed from texp so that they agree to the
// last bit with the viscous time the run uses.
//
// The outer supply of the run is built last, once the model is accepted: a
// supply table is read then, and a table that cannot be used is refused
// before any data file is written.
//
// The evaluation radius is 1.01 times the radius of the innermost mesh point
// x = MINX when that lies at or outside the marginally stable orbit
// r_ms = 6 G mass / c^2, else r_ms itself (also when either is NaN).
//
// The key press is read only when standard input is a terminal.
#include <cmath>
#include <cstdio>

#include <unistd.h>

#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "output/fatal.h"
#include "output/registered_file.h"
#include "run/driver.h"
#include "run/exact_model.h"
#include "run/run_files.h"
#include "run/run_supply.h"
#include "run/validation.h"
#include "solver/supply_law.h"
#include "tables/bessel_zeros.h"

namespace {

constexpr double KAPPA_NUMERATOR = 16.0;   // 16 l^2 of the kappa relation
constexpr double KAPPA_DENOMINATOR = 3.0;  // 3 nu0 (G mass)^(0.5/l)

// (l / z_0)^2 (16/3) r_out^(0.5/l): texp times nu0.
double viscous_time_times_nu0(const gmodel* mod) {
  return std::pow(mod->l / mod->zeroes[0], 2) * phys::sixteen_thirds * std::pow(mod->r_out_disk, 0.5 / mod->l);
}

}  // namespace

time_range_in_file derive_model_constants(gmodel* mod, double* rms_out) {
  mod->r_out_vis = mod->r_out_disk;
  mod->r_mass_out = mod->r_out_disk;
  mod->init_disk_part = 1.0;
  mod->r_mass_in = mod->r_ign_in;

  const double l = mod->l;
  if (mod->texp == 0.0 && mod->kappa != 0.0) {
    mod->nu0 = (l * l * KAPPA_NUMERATOR) /
               (mod->kappa * mod->kappa * KAPPA_DENOMINATOR * std::pow(phys::G * mod->mass, 0.5 / l));
    get_zeroes(SERIES_LENGTH, l, mod->zeroes.data(), nullptr, nullptr, check_only != 0);
    mod->texp = viscous_time_times_nu0(mod) / mod->nu0;
  }

  if (mod->flag_outer == 2) {
    mod->accr_out = mdot_out_m94;
    mod->d_accr_out_d_t = d_mdot_out_d_t_m94;
  }

  mod->have_integral = 0;
  mod->len = SERIES_LENGTH;
  // Only the supply series of mode 2 reads the coefficients.
  const bool supply_series = mod->flag_outer == 2;
  get_zeroes(SERIES_LENGTH, l, mod->zeroes.data(), supply_series ? mod->constl1.data() : nullptr,
             supply_series ? mod->constl2.data() : nullptr, check_only != 0);

  mod->nu0 = viscous_time_times_nu0(mod) / mod->texp;
  mod->kappa = std::sqrt((l * l * KAPPA_NUMERATOR) /
                         (mod->nu0 * KAPPA_DENOMINATOR * std::pow(phys::G * mod->mass, 0.5 / l)));

  mod->a = 1.0;
  const time_range_in_file times{MIN_TIME, MAX_TIME};
  MIN_TIME = MIN_TIME * mod->texp;
  MAX_TIME = MAX_TIME * mod->texp;

  const double r_min_calc = std::pow(MINX, 4 * l) * mod->r_out_disk;
  const double rms = mod->mass * phys::six_G / phys::c_light / phys::c_light;
  if (r_min_calc >= rms)
    r_inner_dotM = r_min_calc * EVALUATION_RADIUS_MARGIN / mod->r_out_disk;
  else
    r_inner_dotM = rms / mod->r_out_disk;
  *rms_out = rms;
  return times;
}

void set_up_model(gmodel* mod) {
  set_run_context("the set-up of the model", NAN);
  FILE* IN = open_registered_file(filename.data(), "r");
  struct stat parameter_file {};
  const bool identified = fstat(fileno(IN), &parameter_file) == 0;
  read_parameters(IN, mod);
  validate_order(mod);
  const double texp_in_file = mod->texp, kappa_in_file = mod->kappa;  // texp in s here, kappa as given
  double rms = 0.0;
  const time_range_in_file times = derive_model_constants(mod, &rms);
  validate_model(mod, times);
  print_plausibility_warnings(stderr, mod, texp_in_file / phys::seconds_per_day, kappa_in_file);
  if (identified) refuse_overwriting_parameter_file(parameter_file);
  install_run_supply(mod);

  std::printf("Accretion rate is calculated at %.5e cm\n", r_inner_dotM * mod->r_out_disk);
  std::printf("Radius of the marginally stable orbit is %.5e cm\n", rms);
  std::puts("Press return to start calculation");
  std::fflush(stdout);
  // Only a user at a terminal is asked: input from a pipe or a file belongs
  // to the caller (a shell loop reading file names, a pipeline), never to us.
  // A quiet run does not ask: the question is not shown.
  if (isatty(STDIN_FILENO) == 1 && !console_is_quiet()) (void)std::getchar();
}
