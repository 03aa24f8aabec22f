// The row memo must answer with exactly the bits of the sequence routine,
// follow the model it is asked about, and leave failures on the prefetch
// thread to the solver. The Green's function built on it must equal, bit for
// bit, the series evaluated with three fresh sequence calls.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>

#include "numerics/gsl_errors.h"
#include "solver/bessel_memo.h"
#include "solver/green.h"
#include "solver_fixture.h"

using solver_testing::make_model;
using testing_support::run_forked;

namespace {

using row = std::array<double, MAX_SERIES_TERMS>;

row direct_row(double s, int n, const gmodel& mod) {
  row r{};
  for (int i = 0; i < n; ++i) r[i] = s * mod.zeroes[i];
  gsl_sf_bessel_sequence_Jnu_e(mod.l, GSL_PREC_DOUBLE, n, r.data());
  return r;
}

bool same_bits(const row& a, const row& b, int n) { return std::memcmp(a.data(), b.data(), sizeof(double) * n) == 0; }

// The straightforward series: three sequence calls per evaluation.
double fresh_green(double x, double t, double x1, const gmodel& mod) {
  const int n = (t > mod.texp) ? LATE_SERIES_TERMS : mod.len;
  const row v = direct_row(x1, n, mod);
  const row u = direct_row(x, n, mod);
  const row w = direct_row(mod.a, n, mod);
  const double P = std::pow(phys::G * mod.mass * mod.r_out_vis, -0.5 / mod.l);
  double S = 0.0;
  for (int i = 0; i < n; ++i) {
    const double q = mod.zeroes[i] / mod.kappa;
    S += std::exp(-((q * q) * P) * t) * v[i] * u[i] / (w[i] * w[i]);
  }
  return (2.0 / (mod.a * mod.a)) * x1 * std::pow(x / x1, mod.l) * S;
}

TEST(BesselMemo, RowsAreTheRoutinesBitsAndAreComputedOnce) {
  clear_bessel_memo();
  const gmodel mod = make_model(0.4);
  for (int n : {SERIES_LENGTH, LATE_SERIES_TERMS}) {
    for (double s : {0.001, 0.37, 1.0}) {
      row got{};
      bessel_row(s, n, &mod, got.data());
      EXPECT_TRUE(same_bits(got, direct_row(s, n, mod), n)) << "s " << s << " n " << n;
    }
  }
  const bessel_memo_counts first = bessel_memo_statistics();
  EXPECT_EQ(first.computed, 6);
  row again{};
  bessel_row(0.37, SERIES_LENGTH, &mod, again.data());
  EXPECT_TRUE(same_bits(again, direct_row(0.37, SERIES_LENGTH, mod), SERIES_LENGTH));
  EXPECT_EQ(bessel_memo_statistics().computed, first.computed);
  // Six more rows than the recent-rows cache holds: answered by the memo.
  for (double s : {0.001, 0.37, 1.0})
    for (int n : {SERIES_LENGTH, LATE_SERIES_TERMS}) bessel_row(s, n, &mod, again.data());
  EXPECT_EQ(bessel_memo_statistics().computed, first.computed);
  EXPECT_GT(bessel_memo_statistics().requests, first.requests);
}

// Another order, or the same order with another zero table, is another set
// of rows: nothing of the previous model may be answered.
TEST(BesselMemo, FollowsTheModel) {
  clear_bessel_memo();
  gmodel a = make_model(0.4);
  gmodel b = make_model(0.25);
  row r{};
  bessel_row(0.5, SERIES_LENGTH, &a, r.data());
  bessel_row(0.5, SERIES_LENGTH, &b, r.data());
  EXPECT_TRUE(same_bits(r, direct_row(0.5, SERIES_LENGTH, b), SERIES_LENGTH));
  gmodel c = a;
  c.zeroes[3] *= 1.0 + 1e-12;
  bessel_row(0.5, SERIES_LENGTH, &c, r.data());
  EXPECT_TRUE(same_bits(r, direct_row(0.5, SERIES_LENGTH, c), SERIES_LENGTH));
  bessel_row(0.5, SERIES_LENGTH, &a, r.data());
  EXPECT_TRUE(same_bits(r, direct_row(0.5, SERIES_LENGTH, a), SERIES_LENGTH));
}

// Work done ahead of the solver must not end the run: a failing row is
// reported to the prefetcher and left out of the memo, and the solver's own
// request then stops the run through the handler, as without the memo.
TEST(BesselMemo, PrefetchFailureIsLeftToTheSolver) {
  const auto r = run_forked([] {
    install_gsl_error_handler();
    clear_bessel_memo();
    gmodel mod = make_model(0.4);
    std::swap(mod.zeroes[0], mod.zeroes[1]);  // arguments out of order: the routine refuses them
    std::printf("prefetch %s\n", prefetch_bessel_row(0.5, 3, &mod) ? "ok" : "failed");
    std::printf("memo holds %ld rows\n", bessel_memo_statistics().computed);
    row out{};
    bessel_row(0.5, 3, &mod, out.data());
    std::printf("not reached\n");
  });
  EXPECT_EQ(r.status, 4) << r.output;
  EXPECT_NE(r.output.find("prefetch failed\nmemo holds 0 rows\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("GSL error"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("not reached"), std::string::npos);
}

// Rows remembered across field points, times and both series lengths, and
// the decay factors kept per time, change no bit of the Green's function.
TEST(BesselMemo, GreenEqualsTheFreshSeriesBitForBit) {
  clear_bessel_memo();
  gmodel mod = make_model(0.4);
  mod.flag_green = 1;
  // 1e-3 texp keeps every term; at 0.3 texp the exponent of the last terms
  // is far below the underflow of exp.
  for (double t : {1e-3 * mod.texp, 0.2 * mod.texp, 0.3 * mod.texp, mod.texp, 1.5 * mod.texp}) {
    for (double x : {0.05, 0.6}) {
      for (double x1 : {0.01, 0.3, 0.6, 0.3, 0.999}) {
        EXPECT_EQ(Green_x_x1_t(x, t, x1, &mod), fresh_green(x, t, x1, mod)) << x << " " << t << " " << x1;
      }
    }
  }
}

}  // namespace
