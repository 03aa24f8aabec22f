// The model record's physical quantities handed to the exact solution.
#include "run/exact_model.h"

#include "exact/plausibility.h"
#include "model/constants.h"
#include "model/gmodel.h"
#include "run/run_supply.h"

velmora::disc_parameters exact_parameters_of(const gmodel* mod) {
  velmora::disc_parameters p;
  p.mass = mod->mass;
  p.mdisk = mod->mdisk;
  p.r_out_disk = mod->r_out_disk;
  p.l = mod->l;
  p.r_ign_in = mod->r_ign_in / mod->r_out_disk;
  p.r_ign_out = mod->r_ign_out / mod->r_out_disk;
  p.sigma_index = mod->sigma_index;
  p.texp = mod->texp / phys::seconds_per_day;
  p.kappa = mod->kappa;
  p.flag_outer = mod->flag_outer;
  p.mdot_out = mod->mdot_out;
  // Mode 2 from a table: the run's table; otherwise the core builds the same law itself.
  if (supply_from_table(mod)) p.supply = shared_run_supply();
  return p;
}

void print_plausibility_warnings(FILE* stream, const gmodel* mod, double texp_days, double kappa) {
  velmora::disc_parameters p = exact_parameters_of(mod);
  p.texp = texp_days;
  p.kappa = kappa;
  for (const std::string& w : velmora::plausibility_warnings(p)) std::fprintf(stream, "warning: %s\n", w.c_str());
}
