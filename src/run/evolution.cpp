// The evolution run: the accretion-rate file "mdotin_<NAME>.dat" over
// NUM_TIME logarithmically spaced times from MIN_TIME to MAX_TIME (s)
// (exact/output_times.h).
// The file is locked against other runs of the same name before it is
// emptied. A torque integral that gives up (numerics/quadrature.h) costs
// its row's columns 3 and 4 (nan, with a line on standard error) or its
// point of the torque profile, not the run: the run goes on and ends with
// exit_status::gaps. The header and every line are flushed to the file as soon as they
// are written, so a run that is stopped keeps every line before.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exact/errors.h"
#include "exact/output_times.h"
#include "model/gmodel.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/quadrature.h"
#include "output/data_file.h"
#include "output/model_header.h"
#include "output/registered_file.h"
#include "run/driver.h"
#include "run/exact_model.h"
#include "run/run_files.h"
#include "solver/accretion_rate.h"
#include "solver/initial_torque.h"
#include "solver/snapshot.h"

namespace {

constexpr char RATE_LEGEND[] = "#1=i\n#2=t\n#3=Mdot_in\n#4=err_Mdot_in\n#5=Mdot_in_series\n";
constexpr char SEPARATOR[] = "_________________________________";

// Column 5: the model's inner rate from the exact solution. A time it cannot
// resolve (closer to 0 than its modes reach) is reported on standard error
// and written as nan.
double exact_rate(const velmora::disc_model& exact, double t) {
  try {
    return exact.mdot_in(t);
  } catch (const velmora::solution_error& e) {
    std::fprintf(stderr, "Mdot_in_series at t = %e s: %s\n", t, e.what());
    return NAN;
  }
}

// A torque profile with gaps: its file has nan in column 5 there.
void report_profile_gaps(int gaps, int i, double t) {
  if (gaps == 0) return;
  std::fprintf(stderr,
               "F_x%d.dat at t = %e s: %d of %d torque integrals did not converge (%s); they are nan in column 5 "
               "(fast 1 computes them from the series)\n",
               i, t, gaps, NUM_COOR, quadrature_failure_reason(last_quadrature_gap_status()));
}

// Test hook: VELMORA_TEST_FAIL_QUADRATURE=I makes every torque integral of
// output time I (counted from 0) give up, as if GSL had; -1 (unset) none.
int failing_row_from_environment() {
  const char* text = std::getenv("VELMORA_TEST_FAIL_QUADRATURE");
  if (text == nullptr || *text == '\0') return -1;
  char* end = nullptr;
  const long row = std::strtol(text, &end, 10);
  return (*end == '\0' && row >= 0 && row < NUM_TIME) ? static_cast<int>(row) : -1;
}

}  // namespace

void run_evolution(gmodel* mod, const parameter_values& values) {
  const std::string data_name = rate_file_name();
  std::printf("filename=%s\n", data_name.c_str());
  std::fflush(nullptr);
  std::printf("Result will be in %s\n\n", data_name.c_str());

  if (save >= 1 && NUM_TIME >= 1) reserve_snapshot_names(data_name.c_str());
  FILE* OUT = open_locked_file(data_name.c_str());
  write_model(OUT, mod);
  std::fputs(RATE_LEGEND, OUT);
  flush_data_file(OUT, data_name.c_str());  // a run stopped during its first time still leaves the header

  const int failing_row = failing_row_from_environment();
  const std::vector<double> times = velmora::output_times(MIN_TIME, MAX_TIME, NUM_TIME);
  double abserr = 0.0;

  const velmora::disc_model exact(exact_parameters_of(values));

  set_run_context("the initial torque profile", NAN);
  set_initial_F(mod, initial_profile_name());

  for (int i = 0; i < NUM_TIME; ++i) {
    const double t = times[static_cast<std::size_t>(i)];
    std::printf(" Now t=%.4f s =%.4f days = %.4f * texp\n", t, t / phys::seconds_per_day, t / mod->texp);
    force_quadrature_failures(i == failing_row);
    if (save >= 1) {
      set_run_context("the torque profile snapshot", t);
      const int gaps_before = quadrature_gap_count();
      save_F_t(t, mod, snapshot_name(i));
      report_profile_gaps(quadrature_gap_count() - gaps_before, i, t);
    }
    set_run_context("the inner accretion rate", t);
    const int gaps_before = quadrature_gap_count();
    double mdin = mdot_in_t1(t, &abserr, mod);
    if (quadrature_gap_count() != gaps_before) {
      mdin = NAN;
      abserr = NAN;
      std::fprintf(stderr,
                   "Mdot_in at t = %e s: the torque integral did not converge (%s), also when split at the edges "
                   "of the initial matter and at the field point; columns 3 and 4 of row %d are nan (fast 1 "
                   "computes this time from the series)\n",
                   t, quadrature_failure_reason(last_quadrature_gap_status()), i);
    }
    force_quadrature_failures(false);
    std::printf("mdin=%e\n", mdin);
    std::fflush(nullptr);
    std::puts(SEPARATOR);
    std::fprintf(OUT, "%d\t%e\t%e\t%e\t%e\n", i, t, mdin, abserr, exact_rate(exact, t));
    flush_data_file(OUT, data_name.c_str());
  }

  close_data_file(OUT, data_name.c_str());
  std::printf("Finished. Result is in %s\n\n", data_name.c_str());
}
