// A torque integral that gives up costs one cell, not the run.
//
// The rings are early output times of a ring of matter far outside the
// points where the rate is fitted: there the Green's function is a sum of
// terms of order 1 that cancel to noise, and GSL's adaptive rule gave up
// (l 0.7: maximum number of subdivisions; l 2.5: roundoff), ending the run
// with status 4 and no data line. The retry must give the number the series
// torque (fast 1) gives. The forced failure checks what happens when the
// retry fails too: nan cells, a line on standard error, status 6.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

using testing_support::read_file;
using testing_support::run_in;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// The data lines of a file, split at tabs.
std::vector<std::vector<std::string>> data_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.find('\t') == std::string::npos) continue;
    std::vector<std::string> cells;
    std::istringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::string ring(const std::string& l, const std::string& time, const std::string& name) {
  return "1.59e34 # mass\n3e24 # mdisk\n3e11 # r_out_disk\n" + l + " # l\n0.5 # r_ign_in\n0.8 # r_ign_out\n" +
         "0 # sigma_index\n25 # texp\n" + time + " # MIN_TIME\n" + time + " # MAX_TIME\n1 # NUM_TIME\n0 # flag_outer\n" +
         name + " # name\n";
}

struct RingCase {
  const char* label;
  const char* l;
  const char* time;  // texp: the output time at which the original rule gave up
};

class RingRescue : public ::testing::TestWithParam<RingCase> {};

TEST_P(RingRescue, RowWrittenAndAgreesWithTheSeriesTorque) {
  const RingCase& c = GetParam();
  TempDir dir;
  write_file(dir / "quad.par", ring(c.l, c.time, "quad"));
  write_file(dir / "series.par", ring(c.l, c.time, "series") + "1 # fast\n");
  const auto quad = run_velmora(dir.path(), "quad.par");
  const auto series = run_velmora(dir.path(), "series.par");
  ASSERT_EQ(quad.status, 0) << quad.output;
  ASSERT_EQ(series.status, 0) << series.output;
  EXPECT_EQ(quad.output.find("GSL error"), std::string::npos);
  EXPECT_EQ(quad.output.find("did not converge"), std::string::npos);
  const auto q = data_rows(read_file(dir / "mdotin_quad.dat"));
  const auto s = data_rows(read_file(dir / "mdotin_series.dat"));
  ASSERT_EQ(q.size(), 1u);
  ASSERT_EQ(s.size(), 1u);
  const double rate = std::stod(q[0][2]);
  const double series_rate = std::stod(s[0][2]);
  // Each torque is integrated to PRECISION (1e-3) relative, or to 1e-10 of
  // the ring's torque where it is noise; the five-point slope keeps the
  // relative part (2e-3 leaves room for two torques erring oppositely). The
  // floor in rate: 1e-9 of mdisk/texp, the ring's rate scale (its peak is
  // 0.36 of it), a bound on what 1e-10 of the torque makes of the slope.
  const double mass_over_texp = 3e24 / (25 * 86400.0);
  EXPECT_LE(std::fabs(rate - series_rate), 2e-3 * std::fabs(series_rate) + 1e-9 * mass_over_texp)
      << rate << " vs fast 1: " << series_rate;
}

INSTANTIATE_TEST_SUITE_P(Rings, RingRescue,
                         ::testing::Values(RingCase{"TooManySubdivisions", "0.7", "0.01"},
                                           RingCase{"Roundoff", "2.5", "0.0155083"}),
                         [](const ::testing::TestParamInfo<RingCase>& info) { return std::string(info.param.label); });

// Late output times only: five series terms, a fraction of a second each.
const std::string LATE_MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n2 # MIN_TIME\n3 # MAX_TIME\n3 # NUM_TIME\n1 # save\ngap # name\n";

TEST(QuadratureGap, ForcedFailureIsANanCellAndStatusSix) {
  TempDir dir;
  write_file(dir / "gap.par", LATE_MODEL);
  const auto clean = run_velmora(dir.path(), "gap.par");
  ASSERT_EQ(clean.status, 0) << clean.output;
  const std::string clean_rate = read_file(dir / "mdotin_gap.dat");
  const std::string clean_profile0 = read_file(dir / "F_x0.dat");

  const auto r = run_in(dir.path(), std::string("VELMORA_TEST_FAIL_QUADRATURE=1 '") + VELMORA_BINARY + "' gap.par");
  EXPECT_EQ(r.status, 6) << r.output;
  EXPECT_NE(r.output.find("Finished."), std::string::npos);
  const auto rows = data_rows(read_file(dir / "mdotin_gap.dat"));
  const auto clean_rows = data_rows(clean_rate);
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_EQ(clean_rows.size(), 3u);
  // Rows 0 and 2 as without the hook; row 1: its time and column 5 as well,
  // columns 3 and 4 nan.
  EXPECT_EQ(rows[0], clean_rows[0]);
  EXPECT_EQ(rows[2], clean_rows[2]);
  EXPECT_EQ(rows[1][1], clean_rows[1][1]);
  EXPECT_EQ(rows[1][4], clean_rows[1][4]);
  EXPECT_EQ(rows[1][2], "nan");
  EXPECT_EQ(rows[1][3], "nan");
  // One line naming the time, GSL's reason and fast 1, for the rate and for
  // the profile.
  const std::string rate_line = "Mdot_in at t = " + rows[1][1] + " s: the torque integral did not converge "
                                "(maximum number of subdivisions reached)";
  const auto at = r.output.find(rate_line);
  ASSERT_NE(at, std::string::npos) << r.output;
  EXPECT_NE(r.output.find("fast 1", at), std::string::npos);
  EXPECT_NE(r.output.find("F_x1.dat at t = " + rows[1][1] + " s: 99 of 99 torque integrals did not converge"),
            std::string::npos)
      << r.output;

  EXPECT_EQ(read_file(dir / "F_x0.dat"), clean_profile0);
  const auto profile = data_rows(read_file(dir / "F_x1.dat"));
  ASSERT_EQ(profile.size(), 99u);
  for (const auto& p : profile) {
    EXPECT_EQ(p[4], "nan") << p[0];
    EXPECT_NE(p[5], "nan") << p[0];  // the initial torque is no integral
  }
}

}  // namespace
