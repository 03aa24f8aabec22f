// Green's function: the series against the elementary form it takes for
// l = 0.5, its xi-derivative, the mode flag and the stop on a zero argument.
#include <gtest/gtest.h>

#include <cmath>

#include <gsl/gsl_deriv.h>

#include "model/integrand_records.h"
#include "solver/green.h"
#include "solver_fixture.h"

using solver_testing::make_model;
using testing_support::near_rel;

namespace {

// For l = 0.5 the zeros of J_(-1/2) are z_i = (i + 1/2) pi and
// J_(1/2)(y) = sqrt(2/(pi y)) sin y, so the series is
// G = 2 sum_i exp(-(2i+1)^2 t / texp_decay) sin(z_i x) sin(z_i x1),
// with dG/dxi = dG/dx (xi = x) and texp_decay the e-folding time of the first term.
struct half_order {
  double texp_decay;
  int terms;
  double G(double x, double t, double x1) const {
    double s = 0.0;
    for (int i = 0; i < terms; ++i) {
      const double z = (i + 0.5) * phys::pi;
      s += std::exp(-(2.0 * i + 1.0) * (2.0 * i + 1.0) * t / texp_decay) * std::sin(z * x) * std::sin(z * x1);
    }
    return 2.0 * s;
  }
  double dG_dx(double x, double t, double x1) const {
    double s = 0.0;
    for (int i = 0; i < terms; ++i) {
      const double z = (i + 0.5) * phys::pi;
      s += std::exp(-(2.0 * i + 1.0) * (2.0 * i + 1.0) * t / texp_decay) * z * std::cos(z * x) * std::sin(z * x1);
    }
    return 2.0 * s;
  }
};

class GreenHalfOrder : public ::testing::Test {
 protected:
  gmodel mod = make_model(0.5);
};

// GSL's Bessel values and the sines agree to rounding; 1e-11 leaves room for
// the partial cancellation of 50 terms at an early time.
TEST_F(GreenHalfOrder, SeriesEqualsElementaryFormEarlyAndLate) {
  const half_order full{mod.texp, SERIES_LENGTH};
  const half_order late{mod.texp, LATE_SERIES_TERMS};
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.3, 0.02 * mod.texp, 0.55, &mod), full.G(0.3, 0.02 * mod.texp, 0.55), 1e-11));
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.7, 0.3 * mod.texp, 0.2, &mod), full.G(0.7, 0.3 * mod.texp, 0.2), 1e-11));
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.7, 1.5 * mod.texp, 0.2, &mod), late.G(0.7, 1.5 * mod.texp, 0.2), 1e-11));
}

// With texp a thousandth of the decay time the higher terms are still alive at
// t = texp, so the cut from len to five terms is visible: it happens strictly past texp.
TEST_F(GreenHalfOrder, FullSeriesAtTexpFiveTermsJustPast) {
  const double decay = mod.texp;
  mod.texp = 1e-3 * decay;
  const half_order full{decay, SERIES_LENGTH};
  const half_order late{decay, LATE_SERIES_TERMS};
  const double t_past = std::nextafter(mod.texp, 1e300);
  ASSERT_GT(testing_support::rel_diff(full.G(0.4, mod.texp, 0.45), late.G(0.4, mod.texp, 0.45)), 1e-3);
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.4, mod.texp, 0.45, &mod), full.G(0.4, mod.texp, 0.45), 1e-11));
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.4, t_past, 0.45, &mod), late.G(0.4, t_past, 0.45), 1e-11));
}

// gsl_deriv_central with step PRECISION has a truncation error of order
// h^4 G^(5) ~ (1e-3)^4 z_4^5 / 30 relative to G' for the five late terms: below 1e-6.
TEST_F(GreenHalfOrder, DerivativeModeReturnsXiDerivativeAndKeepsFlag) {
  const half_order late{mod.texp, LATE_SERIES_TERMS};
  for (double x : {0.05, 0.3, 0.8}) {
    mod.flag_green = 2;
    const double d = Green_x_x1_t(x, 1.2 * mod.texp, 0.4, &mod);
    EXPECT_EQ(mod.flag_green, 2);
    EXPECT_TRUE(near_rel(d, late.dG_dx(x, 1.2 * mod.texp, 0.4), 1e-6)) << "x=" << x;
  }
  mod.flag_green = 0;
  EXPECT_TRUE(near_rel(Green_x_x1_t(0.3, 1.2 * mod.texp, 0.4, &mod), late.G(0.3, 1.2 * mod.texp, 0.4), 1e-11));
  EXPECT_EQ(mod.flag_green, 0);
}

// For l = 0.4 (xi = x^0.8) the derivative is checked against a central
// difference of the series value in xi with a step ten times smaller.
TEST(GreenDerivative, AgreesWithFiniteDifferenceOfSeries) {
  gmodel mod = make_model(0.4);
  const double t = 0.5 * mod.texp, x = 0.5, x1 = 0.3, h = 1e-4;
  const double xi = std::pow(x, 0.8);
  const auto G_of_xi = [&](double s) { return Green_x_x1_t(std::pow(s, 1.25), t, x1, &mod); };
  const double fd = (G_of_xi(xi + h) - G_of_xi(xi - h)) / (2.0 * h);
  mod.flag_green = 2;
  EXPECT_TRUE(near_rel(Green_x_x1_t(x, t, x1, &mod), fd, 1e-4));
  EXPECT_EQ(mod.flag_green, 2);
}

// At x = 0.001 the forward difference is used, just above it the central one:
// the result equals, bit for bit, the GSL routine applied to the series in xi.
TEST(GreenDerivative, ForwardAtSwitchPointCentralJustAbove) {
  gmodel mod = make_model(0.4);
  const double t = 1.3 * mod.texp, x1 = 0.2;
  my_Green_params params{t, x1, &mod};
  gsl_function F{&mod_Green_xi_x1_t, &params};
  const auto by = [&](auto rule, double x) {
    double r = 0.0, e = 0.0;
    mod.flag_green = 1;
    rule(&F, std::pow(x, 0.8), PRECISION, &r, &e);
    return r;
  };
  const double x_above = std::nextafter(DERIVATIVE_SWITCH_X, 1.0);
  const double forward = by(gsl_deriv_forward, DERIVATIVE_SWITCH_X);
  const double central = by(gsl_deriv_central, x_above);
  ASSERT_NE(forward, by(gsl_deriv_central, DERIVATIVE_SWITCH_X));

  double e = 0.0;
  mod.flag_green = 1;
  EXPECT_EQ(numeric_mdot_Green_x_x1_t(DERIVATIVE_SWITCH_X, t, x1, &mod, &e), forward);
  EXPECT_EQ(numeric_mdot_Green_x_x1_t(x_above, t, x1, &mod, &e), central);
  EXPECT_GT(e, 0.0);
}

TEST(GreenDeathTest, ZeroSourceArgumentStopsWithStatusThree) {
  gmodel mod = make_model(0.5);
  EXPECT_EXIT(
      {
        solver_testing::stdout_to_stderr();
        Green_x_x1_t(0.5, 0.1 * mod.texp, 0.0, &mod);
      },
      ::testing::ExitedWithCode(3), "Check initial len value or smallest x! Bessel function is not calculated at 0");
  mod.zeroes[3] = 0.0;
  EXPECT_EXIT(
      {
        solver_testing::stdout_to_stderr();
        Green_x_x1_t(0.5, 0.1 * mod.texp, 0.4, &mod);
      },
      ::testing::ExitedWithCode(3), "Bessel function is not calculated at 0");
}

}  // namespace
