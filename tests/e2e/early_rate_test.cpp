// Column 5 of a run at a large order fed from a table, with every output time
// before the supply reaches the centre: never negative, never nan, and the
// exact core's value (what the Python module returns) to its printed digits.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "exact/disc_model.h"
#include "exact/supply_history.h"
#include "support/test_support.h"

namespace {

using testing_support::near_rel;
using testing_support::read_file;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

TEST(EarlyRate, LargeOrderTableRunBeforeArrivalWritesTheExactRate) {
  TempDir dir;
  // An empty disc (mdisk 0) at l 7.5 fed from day 0: at 0.05..0.4 texp the
  // supply's answer at the centre is exp(-z_0^2 texp / 4 t) ~ e^-40 .. e^-300 small.
  write_file(dir.path() / "feed.dat", "0 0\n2 5e17\n10 1e17\n40 2e17\n");
  write_file(dir.path() / "model.par",
             "1.989e34 # mass\n0 # mdisk\n1e11 # r_out_disk\n7.5 # l\n0.1 # r_ign_in\n0.9 # r_ign_out\n"
             "0 # sigma_index\n30 # texp\n0.05 # MIN_TIME\n0.4 # MAX_TIME\n8 # NUM_TIME\n2 # flag_outer\n"
             "feed.dat # supply_file\nearly # name\n");
  const auto run = run_velmora(dir.path(), "model.par");
  ASSERT_EQ(run.status, 0) << run.output;
  velmora::disc_parameters p;
  p.mass = 1.989e34;
  p.r_out_disk = 1e11;
  p.l = 7.5;
  p.r_ign_in = 0.1;
  p.r_ign_out = 0.9;
  p.texp = 30.0;
  p.flag_outer = 2;
  p.supply = std::make_shared<const velmora::supply_history>(velmora::read_supply_table((dir.path() / "feed.dat").string()));
  const velmora::disc_model d(p);
  std::istringstream in(read_file(dir.path() / "mdotin_early.dat"));
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<double> v;
    double x;
    while (fields >> x) v.push_back(x);
    ASSERT_GE(v.size(), 5u) << line;
    EXPECT_TRUE(std::isfinite(v[4]) && v[4] > 0.0) << line;
    // The printed time has seven digits, too few for a rate that changes as
    // exp(-300 texp / t): the run's own times, log-spaced from MIN_TIME.
    const double t = 0.05 * d.texp_seconds() * std::pow(std::pow(0.4 / 0.05, 1.0 / 7.0), rows);
    EXPECT_TRUE(near_rel(v[1], t, 1e-6)) << line;
    EXPECT_TRUE(near_rel(v[4], d.mdot_in(t), 1e-6)) << line;  // seven printed digits
    ++rows;
  }
  EXPECT_EQ(rows, 8);
}

}  // namespace
