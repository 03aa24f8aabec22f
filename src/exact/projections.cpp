// Projections of power laws on the Bessel modes by Gauss-Legendre panels.
#include "exact/projections.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <gsl/gsl_sf_gamma.h>

#include "exact/bessel_grid.h"
#include "exact/bessel_modes.h"
#include "model/constants.h"

namespace velmora {

namespace {

constexpr int RULE_POINTS = 20;
constexpr double PANEL_PHASE = 12.0;      // widest panel, in units of 1/z: about two periods of J_l(z x)
constexpr double PANEL_GROWTH = 8.0;      // a panel ends at most this factor beyond where it starts
constexpr double SERIES_ARGUMENT = 1e-4;  // below z x = this, two terms of the power series of J_l

// Nodes and weights of the 20-point Gauss-Legendre rule on [-1, 1], by
// Newton's method on P_20 from Chebyshev-like starting points.
struct legendre_rule {
  std::array<double, RULE_POINTS> node{}, weight{};
  legendre_rule() {
    const int n = RULE_POINTS;
    for (int i = 0; i < n; ++i) {
      double x = std::cos(phys::pi * (i + 0.75) / (n + 0.5));
      double dp = 1.0;
      for (int it = 0; it < 100; ++it) {
        double p0 = 1.0, p1 = x;
        for (int k = 2; k <= n; ++k) {
          const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = n * (x * p1 - p0) / (x * x - 1.0);
        const double dx = p1 / dp;
        x -= dx;
        if (std::fabs(dx) < 1e-16) break;
      }
      node[i] = x;
      weight[i] = 2.0 / ((1.0 - x * x) * dp * dp);
    }
  }
};

const legendre_rule& rule() {
  static const legendre_rule r;
  return r;
}

// The two-term series J_l(y) ~ (y/2)^l / Gamma(l+1) (1 - y^2 / (4 (l+1)))
// integrated against x^m from a to b, with y = z x.
double series_part(double l, double m, double z, double a, double b) {
  const double c = std::pow(0.5 * z, l) / gsl_sf_gamma(l + 1.0);
  const double e0 = m + l + 1.0, e2 = m + l + 3.0;
  const double first = (std::pow(b, e0) - std::pow(a, e0)) / e0;
  const double second = (std::pow(b, e2) - std::pow(a, e2)) / e2 * z * z / (4.0 * (l + 1.0));
  return c * (first - second);
}

double project_one(double l, double m, double alpha, double beta, double z) {
  const legendre_rule& r = rule();
  double total = 0.0;
  double lo = alpha;
  const double small = SERIES_ARGUMENT / z;
  if (lo < small) {
    const double top = std::min(small, beta);
    total += series_part(l, m, z, lo, top);
    lo = top;
  }
  const double widest = PANEL_PHASE / z;
  while (lo < beta) {
    const double hi = std::min(beta, std::min(lo * PANEL_GROWTH, lo + widest));
    const double half = 0.5 * (hi - lo), mid = 0.5 * (hi + lo);
    double panel = 0.0;
    for (int k = 0; k < RULE_POINTS; ++k) {
      const double x = mid + half * r.node[k];
      panel += r.weight[k] * std::pow(x, m) * bessel_J(l, z * x);
    }
    total += half * panel;
    lo = hi;
  }
  return total;
}

}  // namespace

void power_projections(double l, double m, double alpha, double beta, const double* z, std::size_t n, double* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = project_one(l, m, alpha, beta, z[i]);
}

void tabulated_projections(const std::shared_ptr<const bessel_grid>& grid, double m, double alpha, double beta, const double* z,
                           std::size_t n, double* out) {
  if (n == 0) return;
  const double l = grid->order();
  const power_moments moments(grid, m, z[0] * alpha, std::min(z[n - 1] * beta, grid->covered()));
  for (std::size_t i = 0; i < n; ++i) {
    const double integral = moments.integral(z[i] * alpha, z[i] * beta);
    const double v = std::exp(-(m + 1.0) * std::log(z[i])) * integral;
    out[i] = std::isfinite(v) ? v : project_one(l, m, alpha, beta, z[i]);
  }
}

}  // namespace velmora
