// The time law of the outer mass supply (flag_outer 2) and its derivative:
// the built-in law (model/supply_law.h) with the run's time constant
// texp_m94, read on every call. The set-up installs these functions as
// gmodel::accr_out and gmodel::d_accr_out_d_t; the solver calls them only
// through those pointers.
#include "solver/supply_law.h"

#include "model/settings.h"
#include "model/supply_law.h"

double mdot_out_m94(double tau) { return builtin_supply::rate(tau, texp_m94); }

double d_mdot_out_d_t_m94(double tau) { return builtin_supply::derivative(tau, texp_m94); }
