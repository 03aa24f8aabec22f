// Outer supply law: the two exponentials, the ramp between them, its
// boundaries, continuity, the derivative against a difference quotient, and
// the time constant read afresh on every call.
#include <gtest/gtest.h>

#include <cmath>

#include "model/settings.h"
#include "solver/supply_law.h"
#include "support/test_support.h"

namespace {

using testing_support::near_rel;

// Closed forms with the default time constant of 30 days.
constexpr double TEXP = 2592000.0;
constexpr double T1 = 5097600.0;  // 59 days
constexpr double T2 = 5184000.0;  // 60 days

double early(double tau) { return 1e18 * std::exp(-tau / TEXP); }
double late(double tau) { return 4e18 * std::exp(-tau / TEXP); }
double ramp_slope() { return (late(T2) - early(T1)) / (T2 - T1); }

// One exp and a handful of roundings separate a value from its closed form.
constexpr double ROUNDING = 4e-16;

class SupplyLaw : public ::testing::Test {
 protected:
  void TearDown() override { testing_support::reset_globals(); }
};

TEST_F(SupplyLaw, StartsAtTheFirstExponential) {
  EXPECT_EQ(mdot_out_m94(0.0), 1e18);
  EXPECT_EQ(d_mdot_out_d_t_m94(0.0), -1e18 / TEXP);
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(0.0), -3.858e11, 1e-4));
}

TEST_F(SupplyLaw, RampStartsAtT1WithTheFirstExponentialsValue) {
  EXPECT_TRUE(near_rel(mdot_out_m94(T1), early(T1), ROUNDING));
  EXPECT_TRUE(near_rel(mdot_out_m94(T1), 1.399e17, 1e-3));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(T1), ramp_slope(), ROUNDING));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(T1), 4.646e12, 1e-3));
  const double before = std::nextafter(T1, 0.0);
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(before), -early(before) / TEXP, ROUNDING));
}

// At the ends the two neighbouring laws agree in value; the slope tells them apart.
TEST_F(SupplyLaw, RampIsLinearUpToJustBelowT2) {
  EXPECT_TRUE(near_rel(mdot_out_m94(0.5 * (T1 + T2)), 0.5 * (early(T1) + late(T2)), 1e-15));
  const double below = std::nextafter(T2, 0.0);
  EXPECT_TRUE(near_rel(mdot_out_m94(below), late(T2) - ramp_slope() * (T2 - below), 1e-15));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(below), ramp_slope(), ROUNDING));
}

TEST_F(SupplyLaw, SecondExponentialFromT2On) {
  EXPECT_TRUE(near_rel(mdot_out_m94(T2), 4e18 * std::exp(-2.0), ROUNDING));
  EXPECT_TRUE(near_rel(mdot_out_m94(T2), 5.413e17, 1e-3));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(T2), -(4e18 / TEXP) * std::exp(-2.0), ROUNDING));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(T2), -2.089e11, 1e-3));
  EXPECT_TRUE(near_rel(mdot_out_m94(1e8), late(1e8), ROUNDING));
}

TEST_F(SupplyLaw, NegativeTimesTakeTheFirstExponential) {
  EXPECT_TRUE(near_rel(mdot_out_m94(-86400.0), 1e18 * std::exp(1.0 / 30.0), ROUNDING));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(-86400.0), -(1e18 / TEXP) * std::exp(1.0 / 30.0), ROUNDING));
}

TEST_F(SupplyLaw, NotANumberGivesNotANumber) {
  EXPECT_TRUE(std::isnan(mdot_out_m94(NAN)));
  EXPECT_TRUE(std::isnan(d_mdot_out_d_t_m94(NAN)));
}

// The value just before each end, carried across the one-ulp gap with its
// own derivative (on the ramp that rise is itself 8e-15 of the rate), meets
// the value at the end up to the roundings of two formulas: 1e-15 holds a
// continuous law, while the step the ramp replaces is a factor 3.87.
TEST_F(SupplyLaw, ContinuousAtBothEndsOfTheRamp) {
  for (double t : {T1, T2}) {
    const double before = std::nextafter(t, 0.0);
    const double carried = mdot_out_m94(before) + d_mdot_out_d_t_m94(before) * (t - before);
    EXPECT_TRUE(near_rel(carried, mdot_out_m94(t), 1e-15)) << "t " << t;
  }
}

// Central differences with h = 1000 s: truncation (h/TEXP)^2/6 ~ 2.5e-8 on
// the exponentials, none on the ramp; rounding eps * TEXP / h ~ 6e-13.
TEST_F(SupplyLaw, DerivativeMatchesADifferenceQuotientInsideEachInterval) {
  const double h = 1000.0;
  for (double tau : {1e6, 0.5 * (T1 + T2), 1e7}) {
    const double quotient = (mdot_out_m94(tau + h) - mdot_out_m94(tau - h)) / (2.0 * h);
    EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(tau), quotient, 1e-7)) << "tau " << tau;
  }
}

TEST_F(SupplyLaw, FollowsAChangedTimeConstant) {
  texp_m94 = 864000.0;  // 10 days: the ramp now runs from 19 to 20 days
  const double t1 = 19.0 * 86400.0;
  const double t2 = 20.0 * 86400.0;
  EXPECT_EQ(mdot_out_m94(0.0), 1e18);
  EXPECT_EQ(d_mdot_out_d_t_m94(0.0), -1e18 / 864000.0);
  EXPECT_TRUE(near_rel(mdot_out_m94(t1), 1e18 * std::exp(-1.9), ROUNDING));
  EXPECT_TRUE(near_rel(mdot_out_m94(t2), 4e18 * std::exp(-2.0), ROUNDING));
  EXPECT_TRUE(near_rel(d_mdot_out_d_t_m94(t1), (4e18 * std::exp(-2.0) - 1e18 * std::exp(-1.9)) / 86400.0, 1e-15));
  EXPECT_TRUE(near_rel(mdot_out_m94(T2), 4e18 * std::exp(-6.0), ROUNDING));
}

}  // namespace
