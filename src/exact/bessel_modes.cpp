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
    std::snprintf(text, sizeof text, "l = %.17g must lie in [%g, %g] (the viscosity index)", l, MIN_ORDER, MAX_ORDER);
    throw invalid_parameter("l", text);
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

}  // namespace

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
  const std::size_t want = std::min(MAX_MODES, std::max<std::size_t>({n, 2 * have, 16}));
  auto v = std::make_shared<mode_values>(values_ ? *values_ : mode_values{l_, {}, {}, {}, {}, {}, {}});
  std::vector<double> all = values_ ? values_->z : std::vector<double>{};
  extend_zeros(l_, all, want);  // the zeros already known are kept, not found again
  const double gamma = gsl_sf_gamma(l_ + 1.0);
  for (std::size_t i = have; i < want; ++i) {
    const double z = all[i];
    const double J = bessel_J(l_, z);
    v->z.push_back(z);
    v->J_edge.push_back(J);
    v->decay.push_back((z / all[0]) * (z / all[0]));
    v->centre.push_back(2.0 * std::pow(0.5 * z, l_) / gamma / (J * J));
    v->steady.push_back(2.0 * l_ * J / (z * z));
    const double decay = v->decay.back();
    v->span.push_back((MODE_CUTOFF + (l_ + 2.0) * std::log1p(std::sqrt(decay))) / decay);
  }
  values_ = v;
  return values_;
}

}  // namespace velmora
