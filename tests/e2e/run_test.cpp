// End-to-end runs of small models in temporary folders: the files a run
// leaves, their headers, legends and line counts, and the physics of the
// accretion-rate curve where it has a closed form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"

using testing_support::near_rel;
using testing_support::read_file;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// A 10 solar-mass black hole with a full disc; texp 30 days.
const std::string MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n0 # flag_outer\n";

struct DataFile {
  std::vector<std::string> header;  // lines starting with '#'
  std::vector<std::vector<double>> rows;
};

DataFile parse(const std::string& text) {
  DataFile f;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') {
      f.header.push_back(line);
      continue;
    }
    std::istringstream fields(line);
    std::vector<double> row;
    std::string field;
    while (std::getline(fields, field, '\t')) row.push_back(std::strtod(field.c_str(), nullptr));
    f.rows.push_back(row);
  }
  return f;
}

std::string header_value(const DataFile& f, const std::string& key) {
  for (const auto& line : f.header)
    if (line.rfind("#" + key + "=", 0) == 0) return line.substr(key.size() + 2);
  return "<missing>";
}

void expect_all_finite(const DataFile& f) {
  for (const auto& row : f.rows)
    for (double v : row) EXPECT_TRUE(std::isfinite(v)) << "a data file holds a value that is not finite";
}

class Run : public ::testing::Test {
 protected:
  testing_support::RunResult run(const std::string& extra) {
    write_file(dir / "model.par", MODEL + extra);
    return run_velmora(dir.path(), "model.par");
  }
  DataFile data(const std::string& name) { return parse(read_file(dir / name)); }
  TempDir dir;
};

// Two late output times: past texp the series keeps five terms, and the first
// one dominates, so the rate decays as exp(-t/texp) to within the weight of the
// next mode, exp(-((z1/z0)^2 - 1) t/texp), about 1e-9 at 2 texp for l = 0.4,
// and the quadrature tolerance 1e-3 of the torque values.
TEST_F(Run, LateTimesDecayOnTheViscousTime) {
  const auto r = run("2 # MIN_TIME\n4 # MAX_TIME\n2 # NUM_TIME\nlate # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = data("mdotin_late.dat");
  ASSERT_EQ(f.rows.size(), 2u);
  expect_all_finite(f);
  const double texp = 30 * 86400.0;
  EXPECT_TRUE(near_rel(f.rows[0][1], 2 * texp, 1e-6));
  EXPECT_TRUE(near_rel(f.rows[1][1], 4 * texp, 1e-6));
  EXPECT_GT(f.rows[0][2], 0.0);
  EXPECT_TRUE(near_rel(f.rows[1][2] / f.rows[0][2], std::exp(-2.0), 2e-3));
  // The error column is the standard error of the fitted slope: small, positive.
  EXPECT_GT(f.rows[0][3], 0.0);
  EXPECT_LT(f.rows[0][3], 0.05 * f.rows[0][2]);

  // Column 5, the slope of the series at the centre, carries no quadrature
  // error: it decays as exp(-t/texp) to the weight of the second mode (3e-9)
  // and the printing of both values to seven digits (1e-6).
  ASSERT_EQ(f.rows[0].size(), 5u);
  EXPECT_TRUE(near_rel(f.rows[1][4] / f.rows[0][4], std::exp(-2.0), 1.5e-6));
  // The fit of column 3 is biased low by the curvature of the torque over xi <= 0.13: about 1.4e-3 for l = 0.4.
  EXPECT_TRUE(near_rel(f.rows[0][2], f.rows[0][4], 3e-3));
  EXPECT_LT(f.rows[0][2], f.rows[0][4]);

  EXPECT_EQ(f.header.size(), 28u + 5u);
  EXPECT_EQ(f.header[28], "#1=i");
  EXPECT_EQ(f.header[31], "#4=err_Mdot_in");
  EXPECT_EQ(f.header[32], "#5=Mdot_in_series");
  EXPECT_EQ(header_value(f, "len_Bessel"), "50");
  EXPECT_EQ(header_value(f, "a"), "1.000000e+00");
  EXPECT_EQ(header_value(f, "flag_green"), "0");
  EXPECT_EQ(header_value(f, "texp(days)"), "3.000000e+01");

  EXPECT_NE(r.output.find("Finished. Result is in mdotin_late.dat\n\n"), std::string::npos);
  EXPECT_NE(r.output.find(" Now t=5184000.0000 s =60.0000 days = 2.0000 * texp\n"), std::string::npos);
}

TEST_F(Run, InitialProfileFile) {
  const auto r = run("0 # NUM_TIME\nprof # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string text = read_file(dir / "F_x_prof.dat");
  EXPECT_NE(text.find("#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0 (shifted on x!)\n#7=t\n"), std::string::npos);
  const DataFile f = parse(text);
  ASSERT_EQ(f.rows.size(), 99u);
  expect_all_finite(f);
  for (const auto& row : f.rows) {
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[5], 0.0);  // the stored profile is filled only after this file is written
  }
  EXPECT_EQ(f.rows[0][1], 1e-3);
  // r = r_out x^(4l) at the outer point; the accumulated mesh ends at 1 up to rounding.
  EXPECT_TRUE(near_rel(f.rows[98][2], 1e11, 1e-6));
  EXPECT_GT(f.rows[50][4], 0.0);
  // The mesh is accumulated step by step and ends at 1.0000000000000004 (printed as 1), just
  // outside r_ign_out = r_out_disk: that last point is cut like any outside the zone.
  EXPECT_EQ(f.rows[98][4], 0.0);
}

TEST_F(Run, NoOutputTimesStillWritesHeaderLegendAndInitialProfile) {
  const auto r = run("0 # NUM_TIME\nnone # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = data("mdotin_none.dat");
  EXPECT_EQ(f.header.size(), 33u);
  EXPECT_TRUE(f.rows.empty());
  EXPECT_TRUE(std::filesystem::exists(dir / "F_x_none.dat"));
  EXPECT_NE(r.output.find("Finished. Result is in mdotin_none.dat\n\n"), std::string::npos);
}

TEST_F(Run, OneOutputTimeIsTheFirstTime) {
  const auto r = run("2 # MIN_TIME\n1 # MAX_TIME\n1 # NUM_TIME\none # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = data("mdotin_one.dat");
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0][0], 0.0);
  EXPECT_TRUE(near_rel(f.rows[0][1], 2 * 30 * 86400.0, 1e-6));
}

// With save 1 every output time writes its profile before the rate; snapshot
// files carry the initial profile in column 6 and the time in column 7.
TEST_F(Run, SnapshotsBesideTheInitialProfile) {
  const auto r = run("3 # MIN_TIME\n1 # NUM_TIME\n1 # save\nsnap # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string text = read_file(dir / "F_x0.dat");
  EXPECT_NE(text.find("#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0\n#7=t\n"), std::string::npos);
  const DataFile snap = parse(text);
  const DataFile init = data("F_x_snap.dat");
  ASSERT_EQ(snap.rows.size(), 99u);
  expect_all_finite(snap);
  for (size_t j = 0; j < 99; ++j) {
    ASSERT_EQ(snap.rows[j].size(), 7u);
    EXPECT_EQ(snap.rows[j][5], init.rows[j][4]) << "line " << j;
    EXPECT_TRUE(near_rel(snap.rows[j][6], 3 * 30 * 86400.0, 1e-6));
  }
  // After three viscous times the torque has fallen far below the initial one mid-disc.
  EXPECT_LT(snap.rows[50][4], 0.2 * snap.rows[50][5]);
  EXPECT_GT(snap.rows[50][4], 0.0);
}

// One early output time, where the full fifty-term series matters. The viscous
// solution at t << texp keeps the rate of order mdisk / texp.
TEST_F(Run, EarlyTimeUsesTheFullSeries) {
  const auto r = run("0.5 # MIN_TIME\n1 # NUM_TIME\nearly # name\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = data("mdotin_early.dat");
  ASSERT_EQ(f.rows.size(), 1u);
  expect_all_finite(f);
  const double scale = 1e25 / (30 * 86400.0);
  EXPECT_GT(f.rows[0][2], 0.01 * scale);
  EXPECT_LT(f.rows[0][2], 10 * scale);
}

// fast 1 takes every torque from the series of the initial torque's
// projections: the same truncated series the radial integral evaluates, so
// the snapshot profile and the rate agree with the default run to the
// quadrature tolerance 1e-3 wherever the torque is not small against its peak.
TEST_F(Run, FastRunAgreesWithTheRadialIntegrals) {
  const std::string extra = "0.5 # MIN_TIME\n1 # NUM_TIME\n1 # save\ncmp # name\n";
  ASSERT_EQ(run(extra).status, 0);
  const DataFile slow_profile = data("F_x0.dat");
  const DataFile slow_rate = data("mdotin_cmp.dat");
  const auto r = run(extra + "1 # fast\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile fast_profile = data("F_x0.dat");
  const DataFile fast_rate = data("mdotin_cmp.dat");
  ASSERT_EQ(fast_profile.rows.size(), 99u);
  ASSERT_EQ(slow_profile.rows.size(), 99u);
  double peak = 0.0;
  for (const auto& row : slow_profile.rows) peak = std::max(peak, std::fabs(row[4]));
  int compared = 0;
  for (size_t j = 0; j < 99; ++j) {
    if (std::fabs(slow_profile.rows[j][4]) < 0.01 * peak) continue;
    ++compared;
    EXPECT_TRUE(near_rel(fast_profile.rows[j][4], slow_profile.rows[j][4], 1e-3))
        << "x = " << slow_profile.rows[j][1] << ": " << fast_profile.rows[j][4] << " vs " << slow_profile.rows[j][4];
  }
  EXPECT_GT(compared, 50);
  ASSERT_EQ(fast_rate.rows.size(), 1u);
  EXPECT_TRUE(near_rel(fast_rate.rows[0][2], slow_rate.rows[0][2], 1e-3));
  EXPECT_EQ(fast_rate.rows[0][4], slow_rate.rows[0][4]);  // column 5 never depends on fast
}

TEST(Usage, NoArgumentPrintsUsageAndStatusTwo) {
  TempDir dir;
  const auto r = testing_support::run_in(dir.path(), std::string("'") + VELMORA_BINARY + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.output, "Usage: velmora [-q] [--check] [--] PARAMETER_FILE   (velmora --help for more)\n");
}

TEST(Usage, MissingParameterFileIsStatusHundred) {
  TempDir dir;
  const auto r = run_velmora(dir.path(), "absent.par");
  EXPECT_EQ(r.status, 100);
  EXPECT_NE(r.output.find(" Cannot open file absent.par: No such file or directory\n"), std::string::npos);
  EXPECT_NE(r.output.find("! Error #100: "), std::string::npos);
}

TEST(Usage, OverlongArgumentIsRefusedBeforeUse) {
  TempDir dir;
  const std::string name(600, 'p');
  const auto r = run_velmora(dir.path(), name);
  EXPECT_EQ(r.status, 100);
  EXPECT_NE(r.output.find("File name is too long: " + name + "\n"), std::string::npos);
}

}  // namespace

// Every tabulated order, and orders between and beyond the tables, run
// through, both rate estimates finite and positive (column 5 of l = 0.5 once
// met a GSL Bessel value that is NaN).
class EveryOrder : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryOrder, LateRateIsFiniteInBothColumns) {
  TempDir dir;
  std::string model = MODEL;
  model.replace(model.find("0.4 # l"), 7, std::string(GetParam()) + " # l");
  write_file(dir / "model.par", model + "2 # MIN_TIME\n1 # NUM_TIME\nord # name\n");
  const auto r = run_velmora(dir.path(), "model.par");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = parse(read_file(dir / "mdotin_ord.dat"));
  ASSERT_EQ(f.rows.size(), 1u);
  expect_all_finite(f);
  EXPECT_GT(f.rows[0][2], 0.0);
  EXPECT_GT(f.rows[0][4], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Orders, EveryOrder,
                         ::testing::Values("0.3333333333333333", "0.5", "0.25", "0.4", "0.2222222222222222", "0.1875",
                                           "0.3125", "0.9", "2.0", "10.0", "0.1", "0.35", "1.5"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = std::string("l") + info.param;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

// Orders without tables in the two supply modes: mode 2's series needs the
// coefficients computed for the order. Early and late times, every column finite.
class NewOrderWithSupply : public ::testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(NewOrderWithSupply, RunsToTheEndWithFiniteColumns) {
  const auto [order, mode] = GetParam();
  TempDir dir;
  std::string model = MODEL;
  model.replace(model.find("0.4 # l"), 7, std::string(order) + " # l");
  model.replace(model.find("0 # flag_outer"), 14, std::to_string(mode) + " # flag_outer");
  write_file(dir / "model.par", model + "1e17 # mdot_out\n0.5 # MIN_TIME\n2 # MAX_TIME\n2 # NUM_TIME\nsup # name\n");
  const auto r = run_velmora(dir.path(), "model.par");
  ASSERT_EQ(r.status, 0) << r.output;
  const DataFile f = parse(read_file(dir / "mdotin_sup.dat"));
  ASSERT_EQ(f.rows.size(), 2u);
  expect_all_finite(f);
  for (const auto& row : f.rows) {
    ASSERT_EQ(row.size(), 5u);
    EXPECT_GT(row[2], 0.0);
    EXPECT_GT(row[4], 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, NewOrderWithSupply,
                         ::testing::Combine(::testing::Values("0.35", "1.5"), ::testing::Values(1, 2)),
                         [](const ::testing::TestParamInfo<std::tuple<const char*, int>>& info) {
                           std::string name = std::string("l") + std::get<0>(info.param) + "_flag_outer" +
                                              std::to_string(std::get<1>(info.param));
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

// The shipped default model at an order where GSL's J_l used to give nan at
// the modes' zeros: every row of every column is a number, column 5 positive
// and near column 3 (the fit of the same solution, a few per cent apart at l 0.7).
TEST(ReportedOrder, DefaultModelAtOrderWithNanBeforeWritesOnlyNumbers) {
  TempDir dir;
  std::string model = read_file(std::string(VELMORA_SOURCE_DIR) + "/examples/default.par");
  const std::size_t at = model.find("0.4        # l ");
  ASSERT_NE(at, std::string::npos);
  model.replace(at, 3, "0.702859976314623");
  write_file(dir / "default.par", model);
  const auto r = run_velmora(dir.path(), "default.par");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string text = read_file(dir / "mdotin_default.dat");
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  const DataFile f = parse(text);
  ASSERT_EQ(f.rows.size(), 8u);
  expect_all_finite(f);
  for (const auto& row : f.rows) {
    ASSERT_EQ(row.size(), 5u);
    EXPECT_GT(row[4], 0.0);
    EXPECT_TRUE(near_rel(row[4], row[2], 0.05));
  }
}
