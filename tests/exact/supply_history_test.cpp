// The outer supply history: rate, derivative and supplied mass of a table and
// of the built-in law against hand-worked closed forms, its memory of a
// decaying mode against adaptive quadrature and integration by parts, and
// what the table reader accepts.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <gsl/gsl_integration.h>

#include "exact/disc_model.h"
#include "exact/supply_history.h"
#include "solver/supply_law.h"
#include "support/test_support.h"

using testing_support::near_rel;
using velmora::supply_history;

namespace {

constexpr double DAY = 86400.0;
constexpr double T = 30 * DAY;  // time constant of the built-in law
// A few roundings of sums and products of order-one numbers.
constexpr double ROUNDING = 1e-14;

// Rows (days, g/s): one before t = 0, a rise, a fall to zero, a rise, then flat.
supply_history sample() {
  return supply_history::from_table({-2 * DAY, 1 * DAY, 3 * DAY, 4 * DAY}, {1e17, 4e17, 0.0, 2e17}, "sample");
}

struct Expected {
  double t;           // s
  double rate;        // g/s
  double derivative;  // g/s^2
  double mass;        // g, supplied since t = 0
};

// Worked by hand: at t = 0 the line from (-2 d, 1e17) to (1 d, 4e17) gives 3e17
// with slope 1e17 per day; masses are trapezoids; at a row the derivative is
// that of the interval starting there.
TEST(SupplyHistory, TableAgainstTrapezoids) {
  const supply_history s = sample();
  const Expected cases[] = {
      {0.0, 3e17, 1e17 / DAY, 0.0},
      {0.5 * DAY, 3.5e17, 1e17 / DAY, 1.625e17 * DAY},
      {1 * DAY, 4e17, -2e17 / DAY, 3.5e17 * DAY},
      {2 * DAY, 2e17, -2e17 / DAY, 6.5e17 * DAY},
      {3 * DAY, 0.0, 2e17 / DAY, 7.5e17 * DAY},
      {10 * DAY, 2e17, 0.0, 20.5e17 * DAY},
  };
  for (const Expected& c : cases) {
    EXPECT_NEAR(s.rate(c.t), c.rate, ROUNDING * 4e17) << c.t / DAY << " d";
    EXPECT_NEAR(s.derivative(c.t), c.derivative, ROUNDING * 2e17 / DAY) << c.t / DAY << " d";
    EXPECT_NEAR(s.supplied_mass(c.t), c.mass, ROUNDING * 2e18 * DAY) << c.t / DAY << " d";
  }
  const auto& p = s.pieces();
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p.front().start, 0.0);
  EXPECT_EQ(p.back().end, INFINITY);
  for (size_t k = 1; k < p.size(); ++k) EXPECT_EQ(p[k].start, p[k - 1].end);
  EXPECT_EQ(s.name(), "sample");
  EXPECT_EQ(s.rows(), 4u);
}

TEST(SupplyHistory, OneRowOrRowsBeforeZeroAreConstant) {
  for (const supply_history& s : {supply_history::from_table({5 * DAY}, {7e16}, "one"),
                                  supply_history::from_table({-3 * DAY, -1 * DAY}, {1e16, 7e16}, "past"),
                                  supply_history::constant(7e16)}) {
    for (double t : {0.0, 1 * DAY, 5 * DAY, 100 * DAY}) {
      EXPECT_EQ(s.rate(t), 7e16);
      EXPECT_EQ(s.derivative(t), 0.0);
      EXPECT_TRUE(near_rel(s.supplied_mass(t), 7e16 * t, ROUNDING));
    }
  }
  EXPECT_EQ(supply_history::none().rate(3 * DAY), 0.0);
  EXPECT_THROW(supply_history::from_table({0.0, 2.0, 2.0}, {1.0, 1.0, 1.0}, "flat"), std::invalid_argument);
  EXPECT_THROW(supply_history::from_table({0.0, 1.0}, {1.0}, "short"), std::invalid_argument);
  // The bounds hold for tables handed over as numbers (the module's) as for files: a rate at
  // the bound is taken, one above refused; 1e39 g/s over 9e20 s supplies 9e59 g, over 2e21 s 2e60 g.
  EXPECT_NO_THROW(supply_history::from_table({0.0}, {velmora::MAX_SUPPLY_RATE}, "at the bound"));
  EXPECT_NO_THROW(supply_history::from_table({0.0, 9e20}, {1e39, 1e39}, "below the mass bound"));
  EXPECT_THROW(supply_history::from_table({0.0}, {1e41}, "fast"), std::invalid_argument);
  EXPECT_THROW(supply_history::from_table({0.0, 2e21}, {1e39, 1e39}, "heavy"), std::invalid_argument);
  // A first row after t = 0: its rate holds from 0.
  const supply_history late = supply_history::from_table({2 * DAY, 4 * DAY}, {1e16, 3e16}, "late");
  EXPECT_EQ(late.rate(1 * DAY), 1e16);
  EXPECT_TRUE(near_rel(late.rate(3 * DAY), 2e16, ROUNDING));
}

// The program's law, piece by piece, and its mass from the two exponentials and the ramp's trapezoid.
TEST(SupplyHistory, BuiltInLawIsTheProgramsLaw) {
  const supply_history s = supply_history::builtin_law();
  for (double t : {0.0, 10 * DAY, 59 * DAY, 59.5 * DAY, 60 * DAY - 1.0, 60 * DAY, 100 * DAY}) {
    EXPECT_TRUE(near_rel(s.rate(t), mdot_out_m94(t), 4e-16)) << t / DAY << " d";
    EXPECT_TRUE(near_rel(s.derivative(t), d_mdot_out_d_t_m94(t), 4e-16)) << t / DAY << " d";
  }
  const double t1 = 59 * DAY, t2 = 60 * DAY, t = 100 * DAY;
  const double mass = 1e18 * T * (1 - std::exp(-t1 / T)) + 0.5 * (mdot_out_m94(t1) + mdot_out_m94(t2)) * DAY +
                      4e18 * T * (std::exp(-t2 / T) - std::exp(-t / T));
  EXPECT_TRUE(near_rel(s.supplied_mass(t), mass, ROUNDING));
  ASSERT_EQ(s.pieces().size(), 3u);
  EXPECT_EQ(s.pieces()[1].start, t1);
  EXPECT_EQ(s.pieces()[2].start, t2);
}

struct memory_params {
  const supply_history* s;
  double t, q;
};

double remembered_rate(double tau, void* p) {
  const auto* m = static_cast<const memory_params*>(p);
  return std::exp(-m->q * (m->t - tau)) * m->s->rate(tau);
}

// int_0^t exp(-q (t - tau)) M(tau) dtau by adaptive quadrature broken at the pieces, to 1e-12.
double quadrature(const supply_history& s, double t, double q) {
  std::vector<double> points{0.0};
  for (const auto& p : s.pieces())
    if (p.start > 0.0 && p.start < t) points.push_back(p.start);
  points.push_back(t);
  memory_params m{&s, t, q};
  gsl_function F{&remembered_rate, &m};
  gsl_integration_workspace* w = gsl_integration_workspace_alloc(1000);
  double value = 0.0, error = 0.0;
  gsl_integration_qagp(&F, points.data(), points.size(), 0.0, 1e-12, 1000, w, &value, &error);
  gsl_integration_workspace_free(w);
  return value;
}

// The memory of the rate against quadrature; the memory of the derivative
// against integration by parts, M(t) - exp(-q t) M(0) - q (memory of the
// rate), which holds for a continuous M. Rates from q = 0 through the
// built-in law's own 1/T (where a formula in 1/(q - 1/T) breaks) to modes far
// faster than any piece; q = 1/(1000 d) takes the series branch on the one-day rows.
TEST(SupplyHistory, MemoryOfADecayingMode) {
  struct Case {
    const char* label;
    supply_history s;
    double t, q;
  };
  const Case cases[] = {
      {"table, q = 0", sample(), 3.5 * DAY, 0.0},
      {"table, slow", sample(), 3.5 * DAY, 1.0 / (1000 * DAY)},
      {"table, 2 d", sample(), 2.5 * DAY, 1.0 / (2 * DAY)},
      {"table, fast", sample(), 10 * DAY, 1.0 / (0.01 * DAY)},
      {"law, q = 1/T", supply_history::builtin_law(), 70 * DAY, 1.0 / T},
      {"law, 3/T", supply_history::builtin_law(), 59.5 * DAY, 3.0 / T},
      {"law, slow", supply_history::builtin_law(), 100 * DAY, 1.0 / (100 * T)},
  };
  for (const Case& c : cases) {
    const auto memory = c.s.decayed(c.t, c.q);
    EXPECT_TRUE(near_rel(memory.rate, quadrature(c.s, c.t, c.q), 1e-11)) << c.label;
    const double by_parts = c.s.rate(c.t) - std::exp(-c.q * c.t) * c.s.rate(0.0) - c.q * memory.rate;
    const double scale = c.s.rate(c.t) + c.s.rate(0.0);
    EXPECT_NEAR(memory.derivative, by_parts, 1e-12 * scale) << c.label;
  }
  EXPECT_EQ(sample().decayed(0.0, 1.0).rate, 0.0);
}

// The exact inner rate of a disc fed by a table: a one-row table is mode 1's
// constant supply, and rows every 0.05 days of the built-in law give the law
// to the error of linear interpolation, (0.05 d / 30 d)^2 / 8 = 3.5e-7.
TEST(SupplyHistory, ExactRateWithATable) {
  velmora::disc_parameters p;
  p.mass = 1.989e34, p.mdisk = 1e25, p.r_out_disk = 1e11, p.l = 0.4, p.r_ign_in = 1e-4, p.r_ign_out = 1;
  p.sigma_index = -1, p.texp = 30, p.flag_outer = 1, p.mdot_out = 3e17;
  const velmora::disc_model constant(p);
  p.flag_outer = 2;
  p.supply = std::make_shared<const supply_history>(supply_history::from_table({0.0}, {3e17}, "flat"));
  const velmora::disc_model flat(p);
  std::vector<double> t, rate;
  for (int k = 0; k <= 4000; ++k) {
    t.push_back(0.05 * k * DAY);
    rate.push_back(mdot_out_m94(t.back()));
  }
  p.supply = std::make_shared<const supply_history>(supply_history::from_table(t, rate, "sampled"));
  const velmora::disc_model sampled(p);
  p.supply = nullptr;
  const velmora::disc_model law(p);
  for (double when : {3 * DAY, 30 * DAY, 61 * DAY, 90 * DAY}) {
    EXPECT_TRUE(near_rel(flat.mdot_in(when), constant.mdot_in(when), 1e-9)) << when / DAY << " d";
    EXPECT_TRUE(near_rel(sampled.mdot_in(when), law.mdot_in(when), 5e-7)) << when / DAY << " d";
  }
}

// Comments after '#', blank lines, tabs and CRLF line ends; an error names the file and the line.
TEST(SupplyTableFile, ReadsRowsAndNamesTheLineOfAnError) {
  testing_support::TempDir dir;
  const std::string path = (dir / "t.dat").string();
  testing_support::write_file(path, "# days  g/s\r\n\n  0\t1e17   # start\r\n2 +3.0E17\r\n");
  const supply_history s = velmora::read_supply_table(path);
  EXPECT_EQ(s.rows(), 2u);
  EXPECT_EQ(s.name(), path);
  EXPECT_TRUE(near_rel(s.rate(1 * DAY), 2e17, ROUNDING));

  testing_support::write_file(path, "0 1e17\n\n# note\n1 2e17 3\n");
  try {
    velmora::read_supply_table(path);
    ADD_FAILURE() << "three columns accepted";
  } catch (const velmora::supply_table_error& e) {
    EXPECT_EQ(e.file, path);
    EXPECT_EQ(e.line, 4);
    EXPECT_EQ(std::string(e.what()), path + ":4: \"1 2e17 3\" is not two finite numbers (time in days, rate in g/s)");
  }
}

// Files that are no table, refused at the line that shows it: a stream of NUL bytes (/dev/zero) or a
// line with no end grew the line in memory until the process was killed. A last line without its
// line break and a long comment are still rows and comments.
TEST(SupplyTableFile, FilesWithoutLinesAreRefusedAtOnce) {
  testing_support::TempDir dir;
  const std::string path = (dir / "t.dat").string();
  testing_support::write_file(path, "# " + std::string(100000, 'c') + "\n0 1e17\n2 3e17");
  EXPECT_EQ(velmora::read_supply_table(path).rows(), 2u);

  struct refused {
    std::string file, content;
    long line;
    std::string words;
  };
  const std::string no_break = std::string("0 1e17\n") + std::string((std::size_t{1} << 20) + 10, '7');
  const std::vector<refused> cases = {
      {path, std::string("0 1e17\n1 2e1\0" "7\n", 15), 2, "holds a NUL byte"},
      {path, no_break, 2, "a line longer than 1 MiB"},
      {"/dev/zero", "", 1, "holds a NUL byte"},
      {dir.path().string(), "", 1, "cannot be read: Is a directory"},
  };
  for (const refused& c : cases) {
    if (c.file == path) testing_support::write_file(path, c.content);
    try {
      velmora::read_supply_table(c.file);
      ADD_FAILURE() << c.file << " accepted (" << c.words << ")";
    } catch (const velmora::supply_table_error& e) {
      EXPECT_EQ(e.line, c.line) << c.words;
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
  }
}

}  // namespace
