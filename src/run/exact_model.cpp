// The values read handed to the exact solution.
#include "run/exact_model.h"

#include "exact/plausibility.h"
#include "model/parameter_values.h"
#include "run/run_supply.h"

velmora::disc_parameters exact_parameters_of(const parameter_values& values) {
  velmora::disc_parameters p = velmora::disc_parameters_of(values);
  // Mode 2 from a table: the run's table; otherwise the core builds the same law itself.
  if (values.flag_outer == 2 && values.supply_file[0] != '\0') p.supply = shared_run_supply();
  return p;
}

void print_plausibility_warnings(FILE* stream, const parameter_values& values) {
  for (const std::string& w : velmora::plausibility_warnings(velmora::disc_parameters_of(values)))
    std::fprintf(stream, "warning: %s\n", w.c_str());
  // A file without NUM_TIME (a missing keyword is 0) runs and finishes with a rate file of
  // headers alone: say so, since a run of no output times is more often a slip than a wish.
  if (values.num_time < 1)
    std::fprintf(stream, "warning: NUM_TIME = %d: no output times; the run writes the initial torque profile and "
                 "the rate file's header only (set MIN_TIME, MAX_TIME and NUM_TIME)\n", values.num_time);
}
