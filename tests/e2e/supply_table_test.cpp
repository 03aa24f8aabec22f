// Runs with the outer supply from a table (flag_outer 2 with supply_file):
// a constant table against the constant supply of mode 1, a table sampling
// the built-in law against the law itself, the fast path, and every table
// the set-up refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "solver/supply_law.h"
#include "support/test_support.h"

using testing_support::near_rel;
using testing_support::read_file;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// 10 solar masses, l 0.4 (an order with the supply series' tables), texp 30 days.
const std::string MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n";

// Columns of the data lines of a rate file.
std::vector<std::vector<double>> rows_of(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<double> row;
    double v;
    while (fields >> v) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

class SupplyTable : public ::testing::Test {
 protected:
  std::vector<std::vector<double>> run(const std::string& entries, const std::string& name) {
    write_file(dir / "model.par", MODEL + entries + name + " # name\n");
    last = run_velmora(dir.path(), "model.par");
    EXPECT_EQ(last.status, 0) << last.output;
    return rows_of(read_file(dir / ("mdotin_" + name + ".dat")));
  }
  TempDir dir;
  testing_support::RunResult last;
};

// Mode 2 with a constant table and mode 1 describe the same disc in two
// decompositions of the torque, each through quadratures to 1e-3 relative;
// column 5, the exact solution, is the same to its seven printed digits.
TEST_F(SupplyTable, ConstantTableGivesTheConstantSupply) {
  const std::string times = "0.1 # MIN_TIME\n3 # MAX_TIME\n3 # NUM_TIME\n";
  const auto constant = run(times + "1 # flag_outer\n3e17 # mdot_out\n", "m1");
  write_file(dir / "flat.dat", "# days g/s\n0 3e17\n");
  const auto table = run(times + "2 # flag_outer\nflat.dat # supply_file\n", "tab");
  EXPECT_NE(last.output.find("Supply at the outer edge from the table flat.dat: 1 row\n"), std::string::npos);
  ASSERT_EQ(table.size(), 3u);
  ASSERT_EQ(constant.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(near_rel(table[i][2], constant[i][2], 1e-3)) << "time " << i;
    EXPECT_TRUE(near_rel(table[i][4], constant[i][4], 1e-6)) << "time " << i;
  }
}

// Rows every 0.05 days to 200 days from the program's own law. Linear
// interpolation of an exponential of 30 days at that spacing errs by
// (0.05/30)^2/8 = 3.5e-7 and the ramp's corners are rows, so what remains
// is the adaptive quadrature of the law's mode integrals (requested to
// 1e-3, measured 1.2e-4 at 4 texp); the table's are closed forms. Column 5
// is exact for both: the interpolation error and the seven printed digits.
TEST_F(SupplyTable, SampledBuiltInLawGivesTheLaw) {
  std::string table;
  char row[64];
  for (int k = 0; k <= 4000; ++k) {
    std::snprintf(row, sizeof row, "%.17g %.17g\n", 0.05 * k, mdot_out_m94(0.05 * k * 86400.0));
    table += row;
  }
  write_file(dir / "law.dat", table);
  const std::string times = "0.1 # MIN_TIME\n4 # MAX_TIME\n6 # NUM_TIME\n2 # flag_outer\n";
  const auto law = run(times, "law");
  const auto sampled = run(times + "law.dat # supply_file\n", "sampled");
  ASSERT_EQ(law.size(), 6u);
  ASSERT_EQ(sampled.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_TRUE(near_rel(sampled[i][2], law[i][2], 2e-4)) << "time " << i;
    EXPECT_TRUE(near_rel(sampled[i][4], law[i][4], 1e-6)) << "time " << i;
  }
}

// fast 1 takes the torques from the series instead of the radial integrals:
// the same numbers to the quadrature tolerance, and the same column 5.
TEST_F(SupplyTable, FastRunAgreesWithTheDefault) {
  write_file(dir / "burst.dat", "0 1e16\n2 1e16\n5 8e17\n45 1e16\n");
  const std::string entries = "0.1 # MIN_TIME\n3 # MAX_TIME\n4 # NUM_TIME\n2 # flag_outer\nburst.dat # supply_file\n";
  const auto slow = run(entries, "slow");
  const auto fast = run(entries + "1 # fast\n", "fast");
  ASSERT_EQ(fast.size(), 4u);
  ASSERT_EQ(slow.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(near_rel(fast[i][2], slow[i][2], 1e-3)) << "time " << i;
    EXPECT_EQ(fast[i][4], slow[i][4]);
  }
}

// A relative supply_file is found beside the parameter file, wherever the program runs.
TEST(SupplyTablePath, BesideTheParameterFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "model");
  write_file(dir / "model" / "m.par", MODEL + "0 # NUM_TIME\n2 # flag_outer\nt.txt # supply_file\nm # name\n");
  write_file(dir / "model" / "t.txt", "0 1e17\n");
  const auto r = run_velmora(dir.path(), "model/m.par");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("from the table model/t.txt: 1 row\n"), std::string::npos) << r.output;
}

// A table that a data file of the run would overwrite is kept: status 100 before anything is written.
TEST(SupplyTablePath, NeverOverwrittenByTheRun) {
  TempDir dir;
  write_file(dir / "m.par", MODEL + "1 # MIN_TIME\n1 # NUM_TIME\n2 # flag_outer\nF_x_m.dat # supply_file\nm # name\n");
  write_file(dir / "F_x_m.dat", "0 1e17\n");
  for (const char* args : {"m.par", "--check m.par"}) {
    const auto r = run_velmora(dir.path(), args);
    EXPECT_EQ(r.status, 100) << r.output;
    EXPECT_NE(r.output.find("data file F_x_m.dat is the supply table F_x_m.dat"), std::string::npos) << r.output;
    EXPECT_EQ(read_file(dir / "F_x_m.dat"), "0 1e17\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "mdotin_m.dat"));
  }
}

struct BadTable {
  const char* label;
  const char* table;    // contents of t.dat; null: no such file
  const char* entries;  // the mode and the supply file
  const char* message;  // regular expression for the console line
};

class RefusedTable : public ::testing::TestWithParam<BadTable> {};

// The run and velmora --check refuse alike.
TEST_P(RefusedTable, StatusThreeBeforeAnyFile) {
  const BadTable& c = GetParam();
  TempDir dir;
  write_file(dir / "model.par", MODEL + "0.5 # MIN_TIME\n2 # MAX_TIME\n3 # NUM_TIME\n" + c.entries);
  if (c.table != nullptr) write_file(dir / "t.dat", c.table);
  const auto r = run_velmora(dir.path(), "model.par");
  EXPECT_EQ(r.status, 3) << r.output;
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(r.output, c.message)) << r.output;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "model.par" || name == "t.dat") << "left behind: " << name;
  }
  const auto check = run_velmora(dir.path(), "--check model.par");
  EXPECT_EQ(check.status, 3) << check.output;
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(check.output, std::string("verdict: refused \\(status 3\\): .*") +
                                                                      c.message))
      << check.output;
}

constexpr char MODE2[] = "2 # flag_outer\nt.dat # supply_file\n";

std::string too_many_rows() {
  std::string text;
  text.reserve(12000000);
  for (int k = 0; k <= 1000000; ++k) text += std::to_string(k) + " 1\n";
  return text;
}
const std::string TOO_MANY = too_many_rows();

INSTANTIATE_TEST_SUITE_P(
    Tables, RefusedTable,
    ::testing::Values(
        BadTable{"Missing", nullptr, MODE2, "Invalid supply_file: t\\.dat: cannot be opened: No such file or directory\n"},
        BadTable{"ThreeColumns", "0 1\n# c\n1 2 3\n", MODE2, "t\\.dat:3: \"1 2 3\" is not two finite numbers"},
        BadTable{"OneColumn", "0\n", MODE2, "t\\.dat:1: \"0\" is not two finite numbers"},
        BadTable{"NotANumber", "0 1\n1 lots\n", MODE2, "t\\.dat:2: .* is not two finite numbers"},
        BadTable{"Infinite", "0 1\n1 inf\n", MODE2, "t\\.dat:2: .* is not two finite numbers"},
        BadTable{"EqualTimes", "0 1\n1 1\n1 2\n", MODE2, "t\\.dat:3: the time 1 days is not after the row before \\(1 days\\)"},
        BadTable{"NegativeRate", "0 1\n1 -1e16\n", MODE2, "t\\.dat:2: the rate -1e\\+16 g/s is negative"},
        BadTable{"NoRows", "# nothing\n\n", MODE2, "Invalid supply_file: t\\.dat: no rows"},
        BadTable{"TooManyRows", TOO_MANY.c_str(), MODE2, "t\\.dat:1000001: more than 1000000 rows"},
        BadTable{"OutOfRangeInSeconds", "0 1\n1e306 1\n", MODE2, "t\\.dat:2: the time 1e\\+306 days is out of range once in seconds"},
        BadTable{"SlopeOverflows", "0 0\n1e-310 1e300\n", MODE2, "t\\.dat:2: the rate changes too fast"},
        // Rates and masses that would run to nan, inf or -inf in the rate file's columns 3 to 5.
        BadTable{"RateOverflowsTheQuadrature", "0 1e17\n1 1e140\n", MODE2,
                 "t\\.dat:2: the rate 1e\\+140 g/s is above 1e\\+40 g/s, beyond any physical supply"},
        BadTable{"RateNearTheLargestDouble", "0 1.797e308\n", MODE2, "t\\.dat:1: the rate 1\\.797e\\+308 g/s is above"},
        BadTable{"RateOfNaNs", "0 1e300\n", MODE2, "t\\.dat:1: the rate 1e\\+300 g/s is above"},
        BadTable{"SuppliedMassOverflows", "0 1e39\n1e25 1e39\n", MODE2,
                 "t\\.dat:2: the table supplies 8\\.64e\\+68 g by this row, above 1e\\+60 g"},
        BadTable{"InModeOne", "0 1\n", "1 # flag_outer\nt.dat # supply_file\n",
                 "supply_file = t\\.dat needs flag_outer = 2 .*, not flag_outer = 1"},
        BadTable{"InModeZero", "0 1\n", "t.dat # supply_file\n", "supply_file = t\\.dat needs flag_outer = 2"}),
    [](const ::testing::TestParamInfo<BadTable>& info) { return std::string(info.param.label); });

// A line that cannot be held in memory is an error naming the line, not
// the end of the table: with the last row lost, the run would go on with a
// table cut short. 16 MiB of blanks before the second row: refused as longer
// than any line of a table (1 MiB), or, should even that not fit under the
// limited address space, as a read error.
TEST(SupplyTableRead, ALineThatCannotBeAllocatedIsAnError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit under ulimit -v";
#endif
  TempDir dir;
  write_file(dir / "model.par", MODEL + "0.5 # MIN_TIME\n2 # MAX_TIME\n3 # NUM_TIME\n" + MODE2);
  write_file(dir / "t.dat", "0 1e17\n" + std::string(16 << 20, ' ') + "1 2e17\n");
  for (const char* option : {"--check ", ""}) {
    const auto r = testing_support::run_in(
        dir.path(), std::string("ulimit -v 24000 && '") + VELMORA_BINARY + "' " + option + "model.par");
    EXPECT_EQ(r.status, 3) << option << r.output;
    EXPECT_TRUE(r.output.find("t.dat:2: a line longer than 1 MiB") != std::string::npos ||
                r.output.find("t.dat:2: cannot be read: Cannot allocate memory") != std::string::npos)
        << r.output;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "model.par" || name == "t.dat") << "left behind: " << name;
  }
}

}  // namespace
