// Zeros of J_(l-1) and the per-mode values of the disc's eigenmodes.
#include "exact/bessel_modes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_gamma.h>

#include "exact/errors.h"
#include "model/keywords.h"

namespace velmora {

namespace {

constexpr double ZERO_SCAN_STEP = 1.0;

// J_(l-1)(x) through the recurrence from J_l and J_(l+1): exact to rounding
// for every l > 0, also where l - 1 is negative; it cancels only near the
// zeros of J_(l-1), where it is still accurate to rounding of J_l.
double J_below(double l, double x, double* J_l) {
  *J_l = bessel_J(l, x);
  return 2.0 * l / x * *J_l - bessel_J(l + 1.0, x);
}

// The zero of J_(l-1) inside (lo, hi), where it changes sign once: Newton
// steps (J_(l-1)' = ((l-1)/x) J_(l-1) - J_l) kept inside a shrinking
// bracket, bisection where a step would leave it.
double zero_in(double l, double lo, double hi) {
  double J_l = 0.0;
  double f_lo = J_below(l, lo, &J_l);
  double x = 0.5 * (lo + hi);
  for (int iteration = 0; iteration < 200; ++iteration) {
    const double f = J_below(l, x, &J_l);
    if (f == 0.0) return x;
    if ((f > 0.0) == (f_lo > 0.0)) {
      lo = x;
      f_lo = f;
    } else {
      hi = x;
    }
    const double slope = (l - 1.0) / x * f - J_l;
    double next = x - f / slope;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (std::fabs(next - x) <= 2.0 * std::numeric_limits<double>::epsilon() * x || hi - lo <= 4.0 * std::numeric_limits<double>::epsilon() * x)
      return next;
    x = next;
  }
  return x;
}

}  // namespace

void check_order(double l) {
  if (!(l >= MIN_ORDER && l <= MAX_ORDER)) {
    char text[160];
    std::snprintf(text, sizeof text, "%s = %.17g must lie in [%g, %g] (the viscosity index)", keyword::l, l, MIN_ORDER,
                  MAX_ORDER);
    throw invalid_parameter(keyword::l, text);
  }
}

double bessel_J(double nu, double x) {
  gsl_sf_result r;
  if (gsl_sf_bessel_Jnu_e(nu, x, &r) == GSL_SUCCESS && std::isfinite(r.val)) return r.val;
  gsl_sf_result r1, r2;
  gsl_sf_bessel_Jnu_e(nu + 1.0, x, &r1);
  gsl_sf_bessel_Jnu_e(nu + 2.0, x, &r2);
  const double bridged = 2.0 * (nu + 1.0) / x * r1.val - r2.val;
  if (std::isfinite(bridged)) return bridged;
  // GSL recurs downwards from nu to mu = nu - round(nu) and normalises by the
  // ratio J_(mu+1)/J_mu: at a double x where J_mu(x) comes out exactly 0 the
  // ratio is infinite and the value nan, reported as success. For
  // 0.5 <= l < 1.5, mu is l - 1 and the modes' arguments are the zeros of
  // J_(l-1), so this meets them (and J_(l+1), J_(l+2) share the same mu).
  // The mean of the two neighbours x (1 -+ k eps) is J_nu(x) to within
  // (k eps x)^2 |J''| / 2, far below rounding; k grows until both are finite.
  for (int k = 1; k <= 64; k *= 2) {
    const double h = k * std::numeric_limits<double>::epsilon() * x;
    gsl_sf_result below, above;
    if (gsl_sf_bessel_Jnu_e(nu, x - h, &below) == GSL_SUCCESS && gsl_sf_bessel_Jnu_e(nu, x + h, &above) == GSL_SUCCESS &&
        std::isfinite(below.val) && std::isfinite(above.val))
      return 0.5 * (below.val + above.val);
  }
  return bridged;
}

namespace {

// Appends zeros of J_(l-1) to z, which holds the first z.size() of them,
// until it holds n.
void extend_zeros(double l, std::vector<double>& z, std::size_t n) {
  // Neighbouring zeros of J_nu, nu > -1, lie more than 3 apart, so a scan in
  // steps of ZERO_SCAN_STEP meets at most one sign change a step. The first
  // zero lies below nu + 2 nu^(1/3) + 2; past the second, each zero lies within
  // ZERO_SCAN_STEP of the previous one plus the previous gap (the gaps change
  // by less than 0.3 from one to the next), so the scan starts there.
  if (z.size() < 2) z.clear();
  const std::size_t have = z.size();
  z.resize(std::max(n, have));
  double x = 0.5;
  double J_l = 0.0;
  double f = J_below(l, x, &J_l);
  for (std::size_t k = have; k < n; ++k) {
    if (k >= 2) {
      x = z[k - 1] + (z[k - 1] - z[k - 2]) - ZERO_SCAN_STEP;
      f = J_below(l, x, &J_l);
    }
    for (;;) {
      const double next = x + ZERO_SCAN_STEP;
      const double f_next = J_below(l, next, &J_l);
      if ((f > 0.0) != (f_next > 0.0) || f_next == 0.0) {
        z[k] = f_next == 0.0 ? next : zero_in(l, x, next);
        x = next;
        f = f_next;
        break;
      }
      x = next;
      f = f_next;
    }
  }
}

constexpr double TABLE_SCAN_STEP = 0.5;
constexpr double TABLE_FIRST_SCAN = 0.25;  // below the first zero of J_(l-1) for every l >= MIN_ORDER (0.648 at l = 0.1)
constexpr double TABLE_CHUNK = 8.0;        // the grid is extended this far beyond the scan at a time

// Once a Newton step is below this fraction of the zero, the next is below
// rounding (quadratic convergence, |g''/2g'| of order 1 near the zeros): that
// step is taken without another evaluation.
constexpr double NEWTON_LAST_STEP = 1e-9;

// The zero of g(y) = y J_(l-1)(y) = y J_l' + l J_l inside (lo, hi), where it
// changes sign once, from `start`: Newton steps with g' = l J_l' + (l^2/y - y) J_l
// (Bessel's equation) kept inside a shrinking bracket, bisection where a step
// would leave it. *J_at is J_l at the zero (from the last evaluation, moved
// by its slope over the last step).
double tabulated_zero_in(const bessel_grid& g, double lo, double hi, double f_lo, double start, double* J_at) {
  const double l = g.order();
  double x = start > lo && start < hi ? start : 0.5 * (lo + hi);
  for (int iteration = 0; iteration < 200; ++iteration) {
    double J = 0.0, dJ = 0.0;
    g.value(x, &J, &dJ);
    const double f = x * dJ + l * J;
    *J_at = J;
    if (f == 0.0) return x;
    if ((f > 0.0) == (f_lo > 0.0)) {
      lo = x;
      f_lo = f;
    } else {
      hi = x;
    }
    const double step = f / (l * dJ + (l * l / x - x) * J);
    if (std::fabs(step) <= NEWTON_LAST_STEP * x) {  // before the bracket's test: x may be an end of it now
      *J_at = J - dJ * step;
      return x - step;
    }
    double next = x - step;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (hi - lo <= 4.0 * std::numeric_limits<double>::epsilon() * x) return next;
    x = next;
  }
  return x;
}

}  // namespace

std::vector<double> tabulated_zeros(bessel_grid& grid, std::size_t n, std::vector<double> z, std::vector<double>* J_at) {
  // The scan visits half units below the cells, then the cells' centres,
  // where g = y_k J_l' + l J_l is the first two Taylor coefficients. After a
  // zero the next lies more than 3 further, so the scan resumes 1 beyond it.
  const double l = grid.order();
  auto next_point = [](double y) {
    return y + TABLE_SCAN_STEP < bessel_grid::SERIES_END ? y + TABLE_SCAN_STEP : std::floor(std::max(y, bessel_grid::SERIES_END) + 1.0);
  };
  auto g_at = [&](double y) {
    if (grid.covered() < y) grid.extend_to(y + TABLE_CHUNK);
    if (y >= bessel_grid::FIRST_CENTRE && y == std::floor(y)) {
      const double* a = grid.taylor(bessel_grid::cell_of(y));
      return y * a[1] + l * a[0];
    }
    double J = 0.0, dJ = 0.0;
    grid.value(y, &J, &dJ);
    return y * dJ + l * J;
  };
  double y = z.empty() ? TABLE_FIRST_SCAN : z.back() + 1.0;
  double f = g_at(y);
  while (z.size() < n) {
    const double next = next_point(y);
    const double f_next = g_at(next);
    if (f_next == 0.0) {
      z.push_back(next);
      if (J_at) J_at->push_back(grid.J(next));
    } else if ((f > 0.0) != (f_next > 0.0)) {
      double J = 0.0;
      z.push_back(tabulated_zero_in(grid, y, next, f, y - f * (next - y) / (f_next - f), &J));
      if (J_at) J_at->push_back(J);
    }
    y = next;
    f = f_next;
  }
  return z;
}

std::vector<double> bessel_zeros(double l, std::size_t n) {
  check_order(l);
  std::vector<double> z;
  extend_zeros(l, z, n);
  return z;
}

order_modes::order_modes(double l) : l_(l) { check_order(l); }

std::shared_ptr<const mode_values> order_modes::at_least(std::size_t n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (values_ && values_->count() >= n) return values_;
  const std::size_t have = values_ ? values_->count() : 0;
  // Grown by half at least: amortised over the growth, and no more zeros
  // (and table) than about 1.5 times the need.
  const std::size_t want = std::min(MAX_MODES, std::max<std::size_t>({n, have + have / 2, 16}));
  auto v = std::make_shared<mode_values>(values_ ? *values_ : mode_values{l_, {}, {}, {}, {}, {}, {}, nullptr});
  auto grid = values_ ? std::make_shared<bessel_grid>(*values_->grid) : std::make_shared<bessel_grid>(l_);
  // The zeros already known are kept, not found again.
  std::vector<double> J_at;
  const std::vector<double> all = tabulated_zeros(*grid, want, values_ ? values_->z : std::vector<double>{}, &J_at);
  if (grid->covered() < all.back()) grid->extend_to(all.back());
  const double gamma = gsl_sf_gamma(l_ + 1.0);
  for (std::size_t i = have; i < want; ++i) {
    const double z = all[i];
    const double J = J_at[i - have];
    v->z.push_back(z);
    v->J_edge.push_back(J);
    v->decay.push_back((z / all[0]) * (z / all[0]));
    v->centre.push_back(2.0 * std::pow(0.5 * z, l_) / gamma / (J * J));
    v->steady.push_back(2.0 * l_ * J / (z * z));
    const double decay = v->decay.back();
    v->span.push_back((MODE_CUTOFF + (l_ + 2.0) * std::log1p(std::sqrt(decay))) / decay);
  }
  v->grid = std::move(grid);
  values_ = v;
  return values_;
}

}  // namespace velmora
