// Set-up of a run: the parameter file, the constants of the viscous solution,
// the evaluation radius and the key press.
//
// texp, nu0 and kappa follow from the viscosity law (model/viscosity.h),
// with the first zero of the run's table.
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
#include <string>

#include <unistd.h>

#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "model/viscosity.h"
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

void fill_run_record(const parameter_values& values, gmodel* mod) {
  mod->mass = values.mass;
  mod->mdisk = values.mdisk;
  mod->r_out_disk = values.r_out_disk;
  mod->l = values.l;
  mod->r_ign_in = values.r_ign_in * values.r_out_disk;
  mod->r_ign_out = values.r_out_disk * values.r_ign_out;
  mod->sigma_index = values.sigma_index;
  mod->texp = phys::seconds_per_day * values.texp;
  mod->kappa = values.kappa;
  mod->flag_outer = values.flag_outer;
  mod->mdot_out = values.mdot_out;
  MIN_TIME = values.min_time;
  MAX_TIME = values.max_time;
  NUM_TIME = values.num_time;
  save = values.save;
  fast = values.fast;
  NAME = values.name;
  SUPPLY_FILE = values.supply_file;
}

void derive_model_constants(gmodel* mod, double* rms_out) {
  mod->r_out_vis = mod->r_out_disk;
  mod->r_mass_out = mod->r_out_disk;
  mod->init_disk_part = 1.0;
  mod->r_mass_in = mod->r_ign_in;

  const double l = mod->l;
  if (mod->texp == 0.0 && mod->kappa != 0.0)
    get_zeroes(SERIES_LENGTH, l, mod->zeroes.data(), nullptr, nullptr, check_only != 0);

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

  const viscous_constants v = derive_viscous_constants(l, mod->mass, mod->r_out_disk, mod->texp, mod->kappa, mod->zeroes[0]);
  mod->texp = v.texp;
  mod->nu0 = v.nu0;
  mod->kappa = v.kappa;

  mod->a = 1.0;
  MIN_TIME = MIN_TIME * mod->texp;
  MAX_TIME = MAX_TIME * mod->texp;

  const double r_min_calc = std::pow(MINX, 4 * l) * mod->r_out_disk;
  const double rms = mod->mass * phys::six_G / phys::c_light / phys::c_light;
  if (r_min_calc >= rms)
    r_inner_dotM = r_min_calc * EVALUATION_RADIUS_MARGIN / mod->r_out_disk;
  else
    r_inner_dotM = rms / mod->r_out_disk;
  *rms_out = rms;
}

parameter_values set_up_model(gmodel* mod) {
  set_run_context("the set-up of the model", NAN);
  const std::string file(filename.data());
  FILE* IN = open_registered_file(file.c_str(), "r");
  struct stat parameter_file {};
  const bool identified = fstat(fileno(IN), &parameter_file) == 0;
  parameter_values values{};
  refusal_text why{};
  const bool accepted = scan_parameter_entries(IN, values, why, [&file](int line, const char* text) {
    print_reader_warning(stderr, file.c_str(), line, text);
  });
  close_parameter_file(IN, file.c_str());
  if (!accepted) refuse_model("%s", why.data());
  fill_run_record(values, mod);
  validate_order(mod);
  double rms = 0.0;
  derive_model_constants(mod, &rms);
  validate_model(mod, values);
  print_plausibility_warnings(stderr, values);
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
  return values;
}
