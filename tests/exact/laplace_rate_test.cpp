// The early-time centre rate's pieces against mathematics they do not
// contain: GSL's modified Bessel functions of real argument and their
// Wronskian in the complex plane, inverse Laplace transforms in closed form,
// and, for the order 1.5, the outer edge's images: there the centre's answer
// to the supply is h = q / sinh q = 2 q sum_n exp(-(2n + 1) q), an image
// series whose terms invert to Gaussians and error functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>

#include "exact/disc_model.h"
#include "exact/laplace_rate.h"
#include "exact/supply_history.h"
#include "support/test_support.h"

namespace {

using testing_support::near_rel;
using velmora::complex_t;

constexpr double PI = 3.141592653589793;

TEST(LaplaceRate, BesselFunctionsOfRealArgumentAreGsls) {
  // GSL's series and uniform expansions are independent of the series,
  // Gauss-Laguerre rule and Hankel expansion here; 1e-13 leaves room for the
  // rounding of both over |z| up to 200 (the series near |z| 40 sums terms of
  // about e^40 / I).
  for (double nu : {-0.9, -0.5, 0.0, 0.3, 1.0, 2.5, 4.17, 6.5, 9.0}) {
    const velmora::bessel_K_scaled K(nu);
    const double n = std::fabs(nu);
    for (double x : {1.0, 2.0, 5.0, 13.0, 30.0, 39.0, 41.0, 80.0, 200.0}) {
      // I_-n = I_n + (2/pi) sin(n pi) K_n for the negative orders.
      double I = gsl_sf_bessel_Inu_scaled(n, x);
      if (nu < 0.0) I += 2.0 / PI * std::sin(n * PI) * gsl_sf_bessel_Knu_scaled(n, x) * std::exp(-2.0 * x);
      EXPECT_TRUE(near_rel(velmora::bessel_I_scaled(nu, complex_t(x, 0.0)).real(), I, 1e-13)) << "I nu " << nu << " x " << x;
      EXPECT_TRUE(near_rel(K(complex_t(x, 0.0)).real(), gsl_sf_bessel_Knu_scaled(n, x), 1e-13)) << "K nu " << nu << " x " << x;
    }
  }
}

TEST(LaplaceRate, BesselWronskianHoldsOffTheRealAxis) {
  // z (I_nu K_(nu+1) + I_(nu+1) K_nu) = 1 for complex z. Within 1 radian of
  // the real axis the power series loses at most exp(|z| - Re z) <= e^14 of
  // its digits at |z| 30, hence 1e-9 there and 1e-13 elsewhere.
  for (double nu : {-0.9, 0.3, 2.5, 6.17, 9.0}) {
    const velmora::bessel_K_scaled K0(nu), K1(nu + 1.0);
    for (double r : {1.0, 3.0, 10.0, 30.0, 45.0, 150.0})
      for (double phase : {0.0, 0.5, 1.0, -1.0}) {
        const complex_t z = std::polar(r, phase);
        const complex_t w = z * (velmora::bessel_I_scaled(nu, z) * K1(z) + velmora::bessel_I_scaled(nu + 1.0, z) * K0(z));
        const double allowed = (r > 20.0 && r < 40.0 && phase != 0.0) ? 1e-9 : 1e-13;
        EXPECT_LT(std::abs(w - 1.0), allowed) << "nu " << nu << " z " << z;
      }
  }
}

TEST(LaplaceRate, ParabolaInvertsClosedFormsToRelativePrecision) {
  // exp(-a sqrt s) s^-k: a / (2 sqrt(pi) t^1.5) e^(-a^2/4t), erfc(a / (2 sqrt t)) and
  // (t + a^2/2) erfc(.) - a sqrt(t/pi) e^(-a^2/4t), for exponents from 0.5 to 600:
  // the rule's error is set below e^-36 of the result.
  for (double a : {1.0, 5.0, 20.0})
    for (double t : {0.001, 0.01, 0.1, 1.0, 10.0, 50.0}) {
      const double E = a * a / (4.0 * t);
      if (E < 0.5 || E > 600.0) continue;
      const double g = std::exp(-E), c = std::erfc(a / (2.0 * std::sqrt(t)));
      auto inverse = [&](int k) {
        return velmora::invert_on_parabola(t, E, [&](complex_t s) { return std::exp(s * t - a * std::sqrt(s)) / std::pow(s, k); });
      };
      EXPECT_TRUE(near_rel(inverse(0), a / (2.0 * std::sqrt(PI) * std::pow(t, 1.5)) * g, 1e-12)) << a << " " << t;
      EXPECT_TRUE(near_rel(inverse(1), c, 1e-12)) << a << " " << t;
      if (E < 30.0) {  // beyond that the closed form itself cancels
        EXPECT_TRUE(near_rel(inverse(2), (t + 0.5 * a * a) * c - a * std::sqrt(t / PI) * g, 1e-11)) << a << " " << t;
      }
    }
}

// The order 1.5: z_0 = pi (first zero of J_1/2). The centre's answer to a
// unit step of the supply at the edge and to a unit ramp, from the images
// b_n = (2n + 1) pi: 2 pi sum L^-1[exp(-b sqrt s) / sqrt(s)] = 2 pi sum exp(-b^2/4t) / sqrt(pi t),
// and 2 pi sum [2 sqrt(t/pi) exp(-b^2/4t) - b erfc(b / (2 sqrt t))].
double image_step(double t) {
  double sum = 0.0;
  for (int n = 0; n < 200; ++n) {
    const double b = (2 * n + 1) * PI;
    sum += std::exp(-b * b / (4.0 * t)) / std::sqrt(PI * t);
  }
  return 2.0 * PI * sum;
}

double image_ramp(double t) {
  double sum = 0.0;
  for (int n = 0; n < 200; ++n) {
    const double b = (2 * n + 1) * PI;
    sum += 2.0 * std::sqrt(t / PI) * std::exp(-b * b / (4.0 * t)) - b * std::erfc(b / (2.0 * std::sqrt(t)));
  }
  return 2.0 * PI * sum;
}

velmora::disc_parameters empty_disc(int flag_outer) {
  velmora::disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 0.0;
  p.r_out_disk = 1e11;
  p.l = 1.5;
  p.r_ign_in = 0.1;
  p.r_ign_out = 0.9;
  p.texp = 20.0;
  p.flag_outer = flag_outer;
  p.mdot_out = 3e16;
  return p;
}

TEST(LaplaceRate, EmptyDiscFedAtTheEdgeFollowsTheImageSeries) {
  // Constant supply switched on at 0 and a table that ramps up over 0.05
  // texp and then holds: before and after the switch to the modes (t = z_0^2/8
  // = 1.23 texp), to 1e-9 relative wherever the rate is above 1e-280 of the
  // supply (a rate below that is 0 within 1e-15 of the supply).
  const velmora::disc_model constant(empty_disc(1));
  const double texp = constant.texp_seconds();
  const double ramp_end = 0.05, rate = 4e17;
  velmora::disc_parameters tp = empty_disc(2);
  tp.supply = std::make_shared<const velmora::supply_history>(
      velmora::supply_history::from_table({0.0, ramp_end * texp}, {0.0, rate}, "ramp"));
  const velmora::disc_model table(tp);
  int compared = 0;
  double worst_constant = 0.0, worst_table = 0.0;
  for (double tau = 0.004; tau < 4.0; tau *= 1.07) {
    const double step = 3e16 * image_step(tau);
    const double got = constant.mdot_in(tau * texp);
    EXPECT_GE(got, 0.0);
    if (step > 1e-280 * 3e16) {
      worst_constant = std::max(worst_constant, testing_support::rel_diff(got, step));
      EXPECT_TRUE(near_rel(got, step, 1e-9)) << "constant supply at " << tau << " texp";
    } else {
      EXPECT_LT(got, 1e-15 * 3e16);
    }
    double ramp = image_ramp(tau);
    if (tau > ramp_end) ramp -= image_ramp(tau - ramp_end);
    ramp *= rate / ramp_end;
    const double fed = table.mdot_in(tau * texp);
    if (ramp > 1e-280 * rate) {
      worst_table = std::max(worst_table, testing_support::rel_diff(fed, ramp));
      EXPECT_TRUE(near_rel(fed, ramp, 1e-9)) << "table at " << tau << " texp";
    }
    ++compared;
  }
  EXPECT_GT(compared, 100);
  std::printf("order 1.5 against the images: constant supply %.2e, table %.2e\n", worst_constant, worst_table);
}

// The centre's answer to a unit impulse of the supply at order 1.5: the time
// derivative of the step's image series, d/dt [exp(-b^2/4t) / sqrt(pi t)] summed.
double image_impulse(double t) {
  double sum = 0.0;
  for (int n = 0; n < 200; ++n) {
    const double b = (2 * n + 1) * PI;
    sum += std::exp(-b * b / (4.0 * t)) / std::sqrt(PI * t) * (b * b / (4.0 * t * t) - 0.5 / t);
  }
  return 2.0 * PI * sum;
}

struct convolution {
  const velmora::supply_history* supply;
  double texp, tau;
};

double convolved(double u, void* data) {
  const auto* c = static_cast<const convolution*>(data);
  return c->supply->rate(u * c->texp) * image_impulse(c->tau - u);
}

TEST(LaplaceRate, BuiltInLawRightAfterItsStepIsTheImpulseResponsesConvolution) {
  // The built-in law (decay, a ramp over the day before day 60, a second
  // decay) convolved with the impulse answer by adaptive quadrature, split at
  // the law's corners; at times from 1e-3 texp after its start and after its
  // step: 1e-8 (the quadrature's own 1e-11 on a kernel that peaks sharply).
  velmora::disc_parameters p = empty_disc(2);
  p.texp = 200.0;  // day 60 is 0.3 texp: early, where the Laplace transform answers
  const velmora::disc_model d(p);
  const velmora::supply_history law = velmora::supply_history::builtin_law();
  const double texp = d.texp_seconds();
  const double corners[] = {59.0 * 86400.0 / texp, 60.0 * 86400.0 / texp};
  gsl_integration_workspace* w = gsl_integration_workspace_alloc(4000);
  double worst = 0.0;
  for (double tau : {0.02, 0.05, 0.1, 0.2, corners[0] + 1e-3, corners[1] + 1e-3, corners[1] + 0.01, corners[1] + 0.1}) {
    convolution c{&law, texp, tau};
    gsl_function F{&convolved, &c};
    std::vector<double> edges{0.0};
    for (double corner : corners)
      if (corner < tau) edges.push_back(corner);
    edges.push_back(tau);
    double expected = 0.0;
    for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
      double part = 0.0, error = 0.0;
      gsl_integration_qag(&F, edges[k], edges[k + 1], 0.0, 1e-11, 4000, GSL_INTEG_GAUSS61, w, &part, &error);
      expected += part;
    }
    worst = std::max(worst, testing_support::rel_diff(d.mdot_in(tau * texp), expected));
    EXPECT_TRUE(near_rel(d.mdot_in(tau * texp), expected, 1e-8)) << "built-in law at " << tau << " texp";
  }
  std::printf("order 1.5, built-in law against the convolution: %.2e\n", worst);
  gsl_integration_workspace_free(w);
}

}  // namespace
