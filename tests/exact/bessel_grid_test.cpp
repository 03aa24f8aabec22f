// The tabulated J_l (Taylor series at unit-spaced centres) against closed
// forms and GSL's general-order routine; its zeros and ring projections
// against closed forms; models built on grown, shared tables against models
// built from scratch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include <gsl/gsl_sf_bessel.h>

#include "exact/bessel_grid.h"
#include "exact/bessel_modes.h"
#include "exact/disc_model.h"
#include "exact/projections.h"

namespace {

using velmora::bessel_grid;
using velmora::disc_model;
using velmora::disc_parameters;

constexpr double EPS = std::numeric_limits<double>::epsilon();
constexpr double PI = 3.14159265358979323846;

// Orders from the smallest allowed to the largest, with ones where GSL's own
// routine needed care (0.743005) and the half-integers of closed forms.
constexpr double ORDERS[] = {0.1, 0.4, 0.5, 0.743005, 1.0, 1.5, 2.3, 5.5, 10.0};

// The size J_l can reach near y: the envelope sqrt(2/(pi y)) where it
// oscillates, |J_l(y)| itself below the turning point y = l.
double envelope(double l, double y, double J) { return y > l ? std::max(std::fabs(J), std::sqrt(2.0 / (PI * y))) : std::fabs(J); }

// Half-integer orders in closed form: J_(1/2) = sqrt(2/(pi y)) sin y,
// J_(3/2) = sqrt(2/(pi y)) (sin y / y - cos y).
double closed_form_J(double l, double y) {
  const double a = std::sqrt(2.0 / (PI * y));
  return l == 0.5 ? a * std::sin(y) : a * (std::sin(y) / y - std::cos(y));
}

// J_l and J_l' over 0.01 .. 1500: a value can be no better than the
// rounding of its argument, |J'| y eps <= envelope * y eps, and the series and
// Taylor sums add a few eps of the envelope: 64 eps (1 + y) of it.
TEST(TabulatedBessel, ValuesAndSlopesAgreeWithClosedFormsAndGsl) {
  for (double l : ORDERS) {
    bessel_grid grid(l);
    grid.extend_to(1500.0);
    for (double y = 0.01; y < 1500.0; y *= 1.0037) {
      double J = 0.0, dJ = 0.0;
      grid.value(y, &J, &dJ);
      // (the closed form for 3/2 cancels below y = 1)
      const double exact = (l == 0.5 || l == 1.5) && y >= 1.0 ? closed_form_J(l, y) : gsl_sf_bessel_Jnu(l, y);
      const double slope = l / y * gsl_sf_bessel_Jnu(l, y) - gsl_sf_bessel_Jnu(l + 1.0, y);
      const double tol = 64.0 * EPS * (1.0 + y);
      ASSERT_NEAR(J, exact, tol * envelope(l, y, exact)) << "l = " << l << ", y = " << y;
      ASSERT_NEAR(dJ, slope, tol * envelope(l, y, slope) * (1.0 + l / y)) << "l = " << l << ", y = " << y;
    }
  }
}

// Zeros of J_(l-1): for l = 1/2 and 3/2 those of cos y and sin y, (k - 1/2) pi
// and k pi; for the others, those of the untabulated route through GSL's J
// (bessel_zeros), and J_(l-1) vanishes there. A zero is as good as g/g' at
// it: a few eps relative (4e-15 over 600 zeros); J_(l-1) there to the
// rounding of the argument, 64 eps (1 + z) of the envelope.
TEST(TabulatedBessel, ZerosAgreeWithClosedFormsAndTheGeneralRoute) {
  constexpr std::size_t COUNT = 600;
  for (double l : ORDERS) {
    velmora::order_modes modes(l);
    const auto v = modes.at_least(COUNT);
    ASSERT_GE(v->count(), COUNT);
    const std::vector<double> general = velmora::bessel_zeros(l, COUNT);
    for (std::size_t i = 0; i < COUNT; ++i) {
      const double z = v->z[i];
      double exact = general[i];
      if (l == 0.5) exact = (i + 0.5) * PI;
      if (l == 1.5) exact = (i + 1.0) * PI;
      ASSERT_NEAR(z, exact, 4e-15 * exact) << "l = " << l << ", zero " << i;
      if (l != 0.5 && l != 1.5) {
        // (GSL's routine gives nan at some of these arguments for 0.5 <= l < 1.5;
        // bessel_J is it with that repaired)
        const double below = 2.0 * l / z * velmora::bessel_J(l, z) - velmora::bessel_J(l + 1.0, z);
        EXPECT_LT(std::fabs(below), 64.0 * EPS * (1.0 + z) * envelope(l, z, 0.0)) << "l = " << l << ", zero " << i;
      }
      // The mode's value at the edge, from the table, against GSL.
      // (GSL's J_(1/2) is nan at exact zeros of J_(-1/2), its closed form is not)
      const double edge = l == 0.5 || l == 1.5 ? closed_form_J(l, exact) : velmora::bessel_J(l, exact);
      ASSERT_NEAR(v->J_edge[i], edge, 64.0 * EPS * (1.0 + z) * envelope(l, z, edge)) << "l = " << l << ", zero " << i;
    }
  }
}

// Rings of matter projected on the modes, against the closed forms
// d/dx [x^(l+1) J_(l+1)(z x)] = z x^(l+1) J_l(z x) (m = l + 1) and
// d/dx [x^(1-l) J_(l-1)(z x)] = -z x^(1-l) J_l(z x) (m = 1 - l), and, for a
// power without one, against the Gauss panels on GSL's J. The closed form is
// a difference of its two end terms A, B; the cells' sums round at about
// eps per cell over up to 2000 cells and the arguments' rounding adds
// y eps: 1e-12 of |A| + |B| and their envelopes. The panels' own error is larger (up to 2e-11 of
// the integral, measured against 25-digit quadrature): 1e-10 of the bound
// integral |x^m| dx, since |J_l| <= 1.
TEST(TabulatedBessel, RingProjectionsAgreeWithClosedForms) {
  struct ring {
    double alpha, beta;
  };
  const ring rings[] = {{0.0, 1.0}, {1e-3, 0.3}, {0.237, 1.0}, {0.5, 0.52}, {0.9, 1.0}};
  for (double l : ORDERS) {
    velmora::order_modes modes(l);
    const auto v = modes.at_least(500);
    const std::size_t n = 500;
    for (const ring& r : rings) {
      for (int which = 0; which < 3; ++which) {
        const double m = which == 0 ? l + 1.0 : which == 1 ? 1.0 - l : 2.7;
        if (r.alpha == 0.0 && m + l <= -1.0) continue;  // not integrable at the centre
        std::vector<double> tab(n), general(n);
        velmora::tabulated_projections(v->grid, m, r.alpha, r.beta, v->z.data(), n, tab.data());
        if (which == 2)
          for (std::size_t i = 0; i < n; i += 25) velmora::power_projections(l, m, r.alpha, r.beta, &v->z[i], 1, &general[i]);
        for (std::size_t i = 0; i < n; i += (which == 2 ? 25 : 1)) {
          const double z = v->z[i];
          if (which == 2) {
            const double bound = (std::pow(r.beta, m + 1.0) - std::pow(r.alpha, m + 1.0)) / (m + 1.0);
            ASSERT_NEAR(tab[i], general[i], 1e-10 * bound) << "l = " << l << ", m = " << m << ", mode " << i;
            continue;
          }
          auto end_term = [&](double x) {
            // At the centre x^(l+1) J_(l+1) vanishes, x^(1-l) J_(l-1)(z x) tends to (z/2)^(l-1) / Gamma(l).
            if (x == 0.0) return which == 0 ? 0.0 : -std::pow(0.5 * z, l - 1.0) / std::tgamma(l) / z;
            using velmora::bessel_J;
            return which == 0 ? std::pow(x, l + 1.0) * bessel_J(l + 1.0, z * x) / z
                              : -std::pow(x, 1.0 - l) * (2.0 * l / (z * x) * bessel_J(l, z * x) - bessel_J(l + 1.0, z * x)) / z;
          };
          // An end term's Bessel factor may sit near its zero (J_(l+1) nearly
          // vanishes at the zeros of J_(l-1) when z is large): its size is then
          // that of its envelope, x^m sqrt(2 / (pi z x)) / z.
          auto size = [&](double x) { return x == 0.0 ? std::fabs(end_term(0.0)) : std::pow(x, m) * std::sqrt(2.0 / (PI * z * x)) / z; };
          const double B = end_term(r.beta), A = end_term(r.alpha);
          ASSERT_NEAR(tab[i], B - A, 1e-12 * (std::fabs(A) + std::fabs(B) + size(r.alpha) + size(r.beta)))
              << "l = " << l << ", m = " << m << ", ring " << r.alpha << ".." << r.beta << ", mode " << i;
        }
      }
    }
  }
}

disc_parameters disc(double l, double r_in, double r_out, double sigma_index) {
  disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 1e25;
  p.r_out_disk = 1e11;
  p.l = l;
  p.r_ign_in = r_in;
  p.r_ign_out = r_out;
  p.sigma_index = sigma_index;
  p.texp = 20.0;
  return p;
}

// A model made with `with` from one whose shared tables had grown (to
// thousands of modes by a time near 0, with its projections made in several
// pieces) gives the values of a model built from scratch for the same times:
// the tables are exact to rounding however they grew (1e-12 relative, the
// sums' own rounding being far smaller).
TEST(TabulatedBessel, ModelsOnGrownSharedTablesAgreeWithFreshOnes) {
  const double shapes[][3] = {{0.0, 1.0, -1.0}, {1e-4, 1.0, 0.5}, {0.1, 1.0, -1.0}, {0.3, 0.6, 3.0}, {0.5, 2.0, -2.5}};
  for (double l : {0.1, 0.25, 0.4, 0.743005, 1.0, 1.5, 3.0, 7.0}) {
    for (const auto& s : shapes) {
      const disc_parameters p = disc(l, s[0], s[1], s[2]);
      const disc_model first(p);
      std::vector<double> t;
      for (double tau : {3.0, 0.3, 0.05, 0.01, 0.003}) t.push_back(tau * first.texp_seconds());
      // Grow the shared tables in steps, from the latest time to the earliest
      // (the mass's sums take every mode where the rate's may not).
      for (double tj : t) {
        double mass = 0.0;
        (void)first.mdot_in(tj);
        first.disc_mass(&tj, 1, &mass);
      }
      const disc_model grown = first.with(p);
      const disc_model fresh(p);
      std::vector<double> a(t.size()), b(t.size()), ma(t.size()), mb(t.size());
      grown.mdot_in(t.data(), t.size(), a.data());
      fresh.mdot_in(t.data(), t.size(), b.data());
      grown.disc_mass(t.data(), t.size(), ma.data());
      fresh.disc_mass(t.data(), t.size(), mb.data());
      // Torques at a late time, where a few of the thousands of shared modes
      // matter: the same sums (relative to the torque's size over the radii).
      const double x[] = {0.2, 0.7, 1.0};
      const double late = t[0];
      double ta[3], tb[3];
      grown.torque(x, 3, &late, 1, ta);
      fresh.torque(x, 3, &late, 1, tb);
      const double size = std::max({std::fabs(tb[0]), std::fabs(tb[1]), std::fabs(tb[2])});
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(ta[k], tb[k], 1e-12 * size) << "torque, l = " << l << ", x = " << x[k];
      for (std::size_t j = 0; j < t.size(); ++j) {
        EXPECT_NEAR(a[j], b[j], 1e-12 * std::fabs(b[j])) << "rate, l = " << l << ", shape " << s[0] << " " << s[1] << " " << s[2];
        // The mass's modal sums cancel at the earliest times of large orders
        // (l 7, a ring: terms adding up to ~1e5 times the mass), so the last
        // bits in which the two routes' projections may differ show at
        // ~1e-16 * 1e5; a wrong table would differ at order 1.
        EXPECT_NEAR(ma[j], mb[j], 1e-9 * std::fabs(mb[j])) << "mass, l = " << l << ", shape " << s[0] << " " << s[1];
      }
    }
  }
}

// Threads growing one order's shared tables at once (each its own times,
// earliest last, so each grows them) see the values of a serial model built
// from scratch.
TEST(TabulatedBessel, ThreadsGrowingSharedTablesSeeTheSerialValues) {
  const disc_parameters p = disc(0.62, 0.1, 0.9, -1.0);
  const disc_model shared(p);
  constexpr int THREADS = 4;
  std::vector<std::vector<double>> t(THREADS), got(THREADS), want(THREADS);
  for (int k = 0; k < THREADS; ++k)
    for (double tau = 2.0; tau > 0.002 * (k + 1); tau *= 0.7) t[k].push_back(tau * shared.texp_seconds());
  std::vector<std::thread> workers;
  for (int k = 0; k < THREADS; ++k) {
    got[k].resize(t[k].size());
    workers.emplace_back([&, k] {
      const disc_model mine = shared.with(p);
      for (std::size_t j = 0; j < t[k].size(); ++j) got[k][j] = mine.mdot_in(t[k][j]);
    });
  }
  for (std::thread& w : workers) w.join();
  for (int k = 0; k < THREADS; ++k) {
    const disc_model fresh(p);
    want[k].resize(t[k].size());
    fresh.mdot_in(t[k].data(), t[k].size(), want[k].data());
    for (std::size_t j = 0; j < t[k].size(); ++j) EXPECT_NEAR(got[k][j], want[k][j], 1e-12 * std::fabs(want[k][j])) << k << " " << j;
  }
}

}  // namespace
