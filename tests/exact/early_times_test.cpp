// The centre rate at early times against the infinite disc: before the outer
// edge's reflection reaches the centre, the disc's rate is that of a disc
// without an edge, whose Green's function at the centre is a Gaussian in x
// times x^(2l). The reference here integrates the initial torque against it
// by adaptive quadrature: no modes, no incomplete gamma functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_gamma.h>

#include "exact/bessel_modes.h"
#include "exact/disc_model.h"
#include "support/infinite_disc.h"

namespace {

using velmora::disc_model;
using testing_support::infinite_disc_rate;
using velmora::disc_parameters;

disc_parameters ring(double l, double r_in, double r_out) {
  disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 1e24;
  p.r_out_disk = 1e11;
  p.l = l;
  p.r_ign_in = r_in;
  p.r_ign_out = r_out;
  p.sigma_index = -0.5;
  p.texp = 20.0;
  return p;
}

// Rings and full discs over the orders, from 1e-4 texp until the edge's image
// is below exp(-40) of the centre rate (the switch of the exact solution): the exact rate agrees with the
// infinite disc to 1e-8 where it is at least 1e-6 of the curve's peak and
// to 1e-15 of that peak below (the rounding of the modal sums where they
// still stand, the closed form's where they would cancel); never negative.
TEST(EarlyTimes, CentreRateIsTheInfiniteDiscsBeforeTheEdgeIsFelt) {
  struct model {
    double l, r_in, r_out;
  };
  const model models[] = {{0.1, 1e-4, 0.3}, {0.2, 0.3, 0.6}, {0.3125, 0.1, 0.4}, {0.5, 0.3, 0.6}, {0.75, 1e-4, 0.3},
                          {1.0, 1e-4, 0.3}, {1.5, 1e-4, 0.3}, {2.0, 1e-4, 0.3}, {3.0, 1e-4, 0.3}, {4.0, 1e-4, 0.3},
                          {5.0, 1e-4, 0.3}, {7.0, 1e-4, 0.3}, {10.0, 1e-4, 0.3}};
  for (const model& m : models) {
    const disc_parameters p = ring(m.l, m.r_in, m.r_out);
    const disc_model d(p);
    const double z0 = velmora::bessel_zeros(m.l, 1)[0];
    const double x_in = std::pow(m.r_in, 0.25 / m.l), x_out = std::pow(m.r_out, 0.25 / m.l);
    double peak = 0.0;
    for (double tau = 1e-4; tau < 3.0; tau *= 1.05) peak = std::max(peak, d.mdot_in(tau * d.texp_seconds()));
    int compared = 0;
    for (double tau = 1e-4; tau < 3.0; tau *= 1.05) {
      const double image = ((2.0 - x_out) * (2.0 - x_out) - x_in * x_in) * z0 * z0 / (4.0 * tau);
      if (image < 40.0 + (m.l + 2.0) * std::log(image)) break;
      const double expected = infinite_disc_rate(p, d.texp_seconds(), tau);
      const double rate = d.mdot_in(tau * d.texp_seconds());
      EXPECT_GE(rate, 0.0) << "l " << m.l << " at " << tau << " texp";
      const double allowed = expected >= 1e-6 * peak ? 1e-8 * expected : 1e-15 * peak;
      EXPECT_NEAR(rate, expected, allowed) << "l " << m.l << " ring " << m.r_in << ".." << m.r_out << " at " << tau
                                           << " texp (peak " << peak << " g/s)";
      ++compared;
    }
    EXPECT_GT(compared, 0) << "l " << m.l;
  }
}

}  // namespace
