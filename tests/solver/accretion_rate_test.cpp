// Inner accretion rate: the fit arithmetic, the late-time decay on the
// viscous time and the derivative method against the fit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "solver/accretion_fit.h"
#include "solver/accretion_rate.h"
#include "solver_fixture.h"

using solver_testing::captured_stdout;
using solver_testing::make_model;
using testing_support::near_rel;

namespace {

constexpr double HOUT = 3.7e21;  // cm^2/s, any positive value

TEST(AccretionFit, ExactLineGivesItsSlope) {
  const double c = 2.5e30;
  std::array<double, FIT_XI.size()> F{};
  for (std::size_t j = 0; j < F.size(); ++j) F[j] = c * FIT_XI[j];
  const accretion_fit fit = fit_accretion_rate(F, HOUT);
  EXPECT_TRUE(near_rel(fit.mdot, phys::two_pi * c / HOUT, 1e-15));
  EXPECT_LE(fit.abserr, 1e-14 * fit.mdot);
}

// Least squares through the origin: c1 = sum xi F / sum xi^2, its standard
// error sqrt(sum (F - c1 xi)^2 / (n - 1) / sum xi^2).
TEST(AccretionFit, ScatterGivesTheSlopesStandardError) {
  const std::array<double, FIT_XI.size()> F{1.1, 1.3, 1.9, 2.0, 2.8};
  double sxy = 0.0, sxx = 0.0;
  for (std::size_t j = 0; j < F.size(); ++j) {
    sxy += FIT_XI[j] * F[j];
    sxx += FIT_XI[j] * FIT_XI[j];
  }
  const double c1 = sxy / sxx;
  double ss = 0.0;
  for (std::size_t j = 0; j < F.size(); ++j) ss += (F[j] - c1 * FIT_XI[j]) * (F[j] - c1 * FIT_XI[j]);
  const accretion_fit fit = fit_accretion_rate(F, HOUT);
  EXPECT_TRUE(near_rel(fit.mdot, phys::two_pi * c1 / HOUT, 1e-13));
  EXPECT_TRUE(near_rel(fit.abserr, phys::two_pi / HOUT * std::sqrt(ss / (F.size() - 1.0) / sxx), 1e-12));
}

// Past texp the torque is the five-term series; for l = 0.5 the second term
// decays nine times faster, so from 2 texp on the first alone is left (to
// e^-16) and the rate falls as exp(-t/texp). Each rate comes from torques
// integrated to the relative tolerance 1e-3; the fits share their errors'
// shape, so their ratio is checked to 2e-3.
TEST(AccretionRate, LateRateDecaysOnTheViscousTime) {
  gmodel mod = make_model(0.5);
  solver_testing::fill_whole_disc(&mod);
  double err2 = 0.0, err3 = 0.0, m2 = 0.0;
  const std::string out = captured_stdout([&] { m2 = mdot_in_t1(2.0 * mod.texp, &err2, &mod); });
  double m3 = 0.0;
  captured_stdout([&] { m3 = mdot_in_t1(3.0 * mod.texp, &err3, &mod); });
  EXPECT_TRUE(near_rel(m3 / m2, std::exp(-1.0), 2e-3));
  EXPECT_GT(err2, 0.0);
  EXPECT_LT(err2, 1e-2 * m2);

  std::string expected = "\nCalculating accretion rate by mdot_in1()\n\n Calculate linear fit for derivative\n";
  for (double xi : FIT_XI) {
    char line[80];
    std::snprintf(line, sizeof line, "\nCalculate F_x_t at x=%.3f t=%.4f\n", xi, 2.0 * mod.texp);
    expected += line;
  }
  EXPECT_EQ(out, expected);
  EXPECT_EQ(mod.flag_green, 1);
}

// For the first mode alone (l = 0.5: F ~ sin(z0 xi), xi = x) the fit over
// FIT_XI and the derivative at the evaluation radius differ by a known factor:
// [sum xi sin(z0 xi) / sum xi^2] / [z0 cos(z0 xi_r)]. Quadrature tolerance 1e-3 each.
TEST(AccretionRate, DerivativeMethodAgreesWithTheFit) {
  gmodel mod = make_model(0.5);
  solver_testing::fill_whole_disc(&mod);
  r_inner_dotM = std::pow(MINX, 4.0 * mod.l) * EVALUATION_RADIUS_MARGIN;
  const double t = 3.0 * mod.texp, z0 = mod.zeroes[0];
  const double xi_r = std::pow(r_inner_dotM, 0.5);
  double sxy = 0.0, sxx = 0.0;
  for (double xi : FIT_XI) {
    sxy += xi * std::sin(z0 * xi);
    sxx += xi * xi;
  }
  double err_fit = 0.0, err = 0.0, fit = 0.0, derivative = 0.0;
  captured_stdout([&] { fit = mdot_in_t1(t, &err_fit, &mod); });
  const std::string out = captured_stdout([&] { derivative = mdot_in_t(t, &err, &mod); });
  EXPECT_TRUE(near_rel(fit / derivative, (sxy / sxx) / (z0 * std::cos(z0 * xi_r)), 2e-3));
  EXPECT_EQ(out, "\ncalculating mdot_in\n");
  EXPECT_EQ(mod.flag_green, 2);
  EXPECT_GT(err, 0.0);
  EXPECT_LT(err, 1e-2 * derivative);
  r_inner_dotM = 0.0;
}

TEST(AccretionRateDeathTest, InvalidOuterModeStopsWithStatusThree) {
  gmodel mod = make_model(0.5);
  mod.flag_outer = -1;
  double err = 0.0;
  EXPECT_EXIT(
      {
        solver_testing::stdout_to_stderr();
        mdot_in_t(864000.0, &err, &mod);
      },
      ::testing::ExitedWithCode(3), "^\ncalculating mdot_in\nInvalid event in mdot_in_t\\(\\). Exit\n$");
}

}  // namespace
