// Outer-supply series: the per-mode time integrals against their closed form
// for a supply law linear in time, installed through the model's slots.
#include <gtest/gtest.h>

#include <cmath>

#include <gsl/gsl_sf_bessel.h>

#include "solver/supply_series.h"
#include "solver_fixture.h"

using solver_testing::make_model;
using testing_support::near_rel;

namespace {

constexpr double M0 = 1e17;      // g/s
constexpr double RAMP = 2e10;    // g/s^2
double constant_rate(double) { return M0; }
double no_change(double) { return 0.0; }
double rising_rate(double tau) { return M0 + RAMP * tau; }
double rising_change(double) { return RAMP; }

// For Mdot = M0 + k tau and q_i = z_i^2 / tvis:
// I_i(t) = (8 l^2 L1 / tvis) (M0 (1 - e^{-q t}) / q + k (t/q - (1 - e^{-q t}) / q^2)) - L2 k (1 - e^{-q t}) / q;
// for k = 0 this is 8 l^2 L1 M0 (1 - e^{-z_i^2 t / tvis}) / z_i^2.
double closed_form(const gmodel& mod, int i, double t, double k) {
  const double tvis = mod.kappa * mod.kappa * std::pow(hout_of(&mod), 1.0 / mod.l);
  const double q = mod.zeroes[i] * mod.zeroes[i] / tvis;
  const double rise = (1.0 - std::exp(-q * t)) / q;
  return 8.0 * mod.l * mod.l * mod.constl1[i] / tvis * (M0 * rise + k * (t / q - rise / q)) - mod.constl2[i] * k * rise;
}

class SupplySeries : public ::testing::Test {
 protected:
  void SetUp() override {
    // For l = 0.5, constl1[i] = int_0^1 x^0.5 J_(1/2)(z_i x) dx / J_(1/2)(z_i)^2 = sqrt(pi / (2 z_i));
    // constl2 is given values of both signs so that its term shows.
    for (int i = 0; i < SERIES_LENGTH; ++i) {
      mod.constl1[i] = std::sqrt(phys::pi / (2.0 * mod.zeroes[i]));
      mod.constl2[i] = (i % 2 == 0 ? 1.0 : -1.0) / (i + 1.0);
    }
  }
  gmodel mod = make_model(0.5);
};

// qag to the relative tolerance PRECISION; the integrands are smooth, so 1e-3 holds.
TEST_F(SupplySeries, ModeIntegralsMatchClosedForm) {
  for (double t : {0.05 * mod.texp, 0.7 * mod.texp, 3.0 * mod.texp}) {
    for (int i : {0, 1, 7, SERIES_LENGTH - 1}) {
      mod.accr_out = constant_rate;
      mod.d_accr_out_d_t = no_change;
      EXPECT_TRUE(near_rel(calc_time_int_i(t, i, &mod), closed_form(mod, i, t, 0.0), PRECISION)) << i << " " << t;
      mod.accr_out = rising_rate;
      mod.d_accr_out_d_t = rising_change;
      EXPECT_TRUE(near_rel(calc_time_int_i(t, i, &mod), closed_form(mod, i, t, RAMP), PRECISION)) << i << " " << t;
    }
  }
}

TEST_F(SupplySeries, SumOverModesAndEmptyHistory) {
  mod.accr_out = constant_rate;
  mod.d_accr_out_d_t = no_change;
  const double x = 0.35, t = 0.4 * mod.texp;
  double expected = 0.0;
  for (int i = 0; i < SERIES_LENGTH; ++i) expected += gsl_sf_bessel_Jnu(0.5, mod.zeroes[i] * x) * closed_form(mod, i, t, 0.0);
  double S = 0.0;
  const std::string out = solver_testing::captured_stdout([&] { S = sum_time_int(x, t, &mod); });
  EXPECT_EQ(out, "calculate sum_time_int\n");
  EXPECT_TRUE(near_rel(S, expected, PRECISION));
  EXPECT_EQ(sum_time_int(x, 0.0, &mod), 0.0);
}

}  // namespace
