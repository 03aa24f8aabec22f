// The model header: 28 lines "#key=value" at the top of every data file,
// each value read from the record and the run settings when it is written,
// and a 29th line "#fast=N" when the torques come from the series (fast).
#include "output/model_header.h"

#include <cmath>

#include "model/gmodel.h"
#include "model/settings.h"

void write_model(FILE* OUT, gmodel* mod) {
  const double b = 2.0 - 0.5 / mod->l;  // exponent of the viscosity law nu = nu0 r^b
  std::fprintf(OUT, "#l=%e\n", mod->l);
  std::fprintf(OUT, "#b=%e\n", b);
  std::fprintf(OUT, "#mass=%e\n", mod->mass);
  std::fprintf(OUT, "#mdisk=%e\n", mod->mdisk);
  std::fprintf(OUT, "#mdot_out=%e\n", mod->mdot_out);
  std::fprintf(OUT, "#r_out_disk=%e\n", mod->r_out_disk);
  std::fprintf(OUT, "#r_out_vis=%e\n", mod->r_out_vis);
  std::fprintf(OUT, "#r_ign_in=%e\n", mod->r_ign_in);
  std::fprintf(OUT, "#r_ign_out=%e\n", mod->r_ign_out);
  std::fprintf(OUT, "#r_mass_out=%e\n", mod->r_mass_out);
  std::fprintf(OUT, "#r_mass_in=%e\n", mod->r_mass_in);
  std::fprintf(OUT, "#init_disk_part=%e\n", mod->init_disk_part);
  std::fprintf(OUT, "#sigma_index=%e\n", mod->sigma_index);
  std::fprintf(OUT, "#texp(days)=%e\n", mod->texp / phys::seconds_per_day);
  std::fprintf(OUT, "#texp(s)=%e\n", mod->texp);
  std::fprintf(OUT, "#nu0=%e\n", mod->nu0);
  std::fprintf(OUT, "#nu_t_out=%e\n", std::pow(mod->r_out_disk, b) * mod->nu0);
  std::fprintf(OUT, "#len_Bessel=%d\n", mod->len);
  std::fprintf(OUT, "#a=%e\n", mod->a);
  std::fprintf(OUT, "#kappa=%e\n", mod->kappa);
  std::fprintf(OUT, "#texp=%e\n", mod->texp);
  std::fprintf(OUT, "#flag_green=%d\n", mod->flag_green);
  std::fprintf(OUT, "#flag_outer=%d\n", mod->flag_outer);
  std::fprintf(OUT, "#PRECISION=%e\n", PRECISION);
  std::fprintf(OUT, "#NUM_COOR=%d\n", NUM_COOR);
  std::fprintf(OUT, "#MINX=%e\n", MINX);
  std::fprintf(OUT, "#ACCUX=%e\n", ACCUX);
  std::fprintf(OUT, "#r_inner_dotM=%e\n", r_inner_dotM);
  // A fast run says so, in one more line; the default run's header stays as it was.
  if (fast >= 1) std::fprintf(OUT, "#fast=%d\n", fast);
}
