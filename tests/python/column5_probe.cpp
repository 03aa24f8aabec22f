// Prints the program's column 5 at full precision: the set-up of a run
// (reader, derived constants, validation) and the exact model the rate file
// takes its column 5 from, at the run's output times. One line per time:
// "column5<TAB>t<TAB>rate" with 17 significant digits (the set-up prints
// lines of its own). The Python tests compare the
// module with it; the data file itself keeps only 7 digits.
//
// Usage: column5_probe model.par
#include <cmath>
#include <cstdio>

#include "exact/disc_model.h"
#include "exact/output_times.h"
#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "output/registered_file.h"
#include "run/driver.h"
#include "run/exact_model.h"
#include "run/run_supply.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: column5_probe model.par\n");
    return 2;
  }
  std::snprintf(filename.data(), filename.size(), "%s", argv[1]);
  gmodel mod{};
  FILE* in = open_registered_file(filename.data(), "r");
  parameter_values values{};
  refusal_text why{};
  if (!scan_parameter_entries(in, values, why)) {
    std::fprintf(stderr, "%s\n", why.data());
    return 3;
  }
  std::fclose(in);
  fill_run_record(values, &mod);
  double rms = 0.0;
  derive_model_constants(&mod, &rms);
  validate_model(&mod, values);
  install_run_supply(&mod);  // a supply table, as the set-up reads it
  const velmora::disc_model exact(exact_parameters_of(values));
  // The output times as the run forms them.
  for (const double t : velmora::output_times(MIN_TIME, MAX_TIME, NUM_TIME))
    std::printf("column5\t%.17g\t%.17g\n", t, exact.mdot_in(t));
  return 0;
}
