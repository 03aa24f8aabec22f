// The evolution driver: step 1, the set-up of the model (setup.cpp);
// step 2, the run over the output times (evolution.cpp).
#include "run/driver.h"

void evol_mdot_in(gmodel* mod) {
  const parameter_values values = set_up_model(mod);
  run_evolution(mod, values);
}
