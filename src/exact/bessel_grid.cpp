// J_l tabulated by its Taylor series at unit-spaced centres; integrals of
// y^m J_l(y) from the same cells. See bessel_grid.h.
#include "exact/bessel_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gsl/gsl_sf_gamma.h>

#include "exact/bessel_modes.h"

namespace velmora {

namespace {

// 1 / ((k + 2)(k + 1)), the recurrence's divisor, for every k it reaches.
constexpr int MAX_RECURRENCE = 64;
struct recurrence_divisors {
  double inverse[MAX_RECURRENCE];
  constexpr recurrence_divisors() : inverse() {
    for (int k = 0; k < MAX_RECURRENCE; ++k) inverse[k] = 1.0 / ((k + 2.0) * (k + 1.0));
  }
};
constexpr recurrence_divisors DIVISORS;

}  // namespace

void bessel_equation_taylor(double y0, double p, double q, double value, double slope, int n, double* c) {
  // Coefficient of s^k in y^2 u'' + p y u' + (y^2 + q) u with y = y0 + s:
  // y0^2 (k+2)(k+1) c_(k+2) + y0 (k+1)(2k+p) c_(k+1) + (k(k-1) + p k + y0^2 + q) c_k + 2 y0 c_(k-1) + c_(k-2) = 0.
  n = std::min(n, MAX_RECURRENCE);
  c[0] = value;
  if (n > 1) c[1] = slope;
  const double y2 = y0 * y0, inv_y2 = 1.0 / y2, two_y0 = 2.0 * y0;
  double before = 0.0, before2 = 0.0;  // c_(k-1), c_(k-2)
  for (int k = 0; k + 2 < n; ++k) {
    const double kk = k;
    const double rest = y0 * (kk + 1.0) * (2.0 * kk + p) * c[k + 1] + (kk * (kk - 1.0 + p) + y2 + q) * c[k] + two_y0 * before + before2;
    before2 = before;
    before = c[k];
    c[k + 2] = -rest * inv_y2 * DIVISORS.inverse[k];
  }
}

bessel_grid::bessel_grid(double l) : l_(l) {
  // c_k = (-1)^k / (k! Gamma(l + k + 1) 2^(l + 2k))
  series_.resize(SERIES_TERMS);
  series_[0] = 1.0 / (gsl_sf_gamma(l + 1.0) * std::pow(2.0, l));
  for (int k = 1; k < SERIES_TERMS; ++k) series_[k] = -series_[k - 1] / (4.0 * k * (l + k));
}

std::size_t bessel_grid::cell_of(double y) {
  const double k = std::floor(y - FIRST_CENTRE + 0.5);
  return k <= 0.0 ? 0 : static_cast<std::size_t>(k);
}

void bessel_grid::append_cell(double J, double dJ) {
  const std::size_t k = cells();
  taylor_.resize(taylor_.size() + TAYLOR_TERMS, 0.0);
  bessel_equation_taylor(centre(k), 1.0, -l_ * l_, J, dJ, terms_of(k), &taylor_[k * TAYLOR_TERMS]);
}

void bessel_grid::extend_to(double y_max) {
  while (covered() < y_max) {
    const std::size_t k = cells();
    const double y = centre(k);
    double J, dJ;
    if (k % ANCHOR_CELLS == 0) {
      // J_l' = (l/y) J_l - J_(l+1)
      J = bessel_J(l_, y);
      dJ = l_ / y * J - bessel_J(l_ + 1.0, y);
    } else {
      // The previous cell's series summed at s = 1.
      const double* a = taylor(k - 1);
      J = 0.0;
      dJ = 0.0;
      for (int n = terms_of(k - 1) - 1; n >= 1; --n) {
        J += a[n];
        dJ += n * a[n];
      }
      J += a[0];
    }
    append_cell(J, dJ);
  }
}

void bessel_grid::value(double y, double* J, double* dJ) const {
  if (y < SERIES_END || (cells() == 0 && y <= SERIES_END)) {
    const double y2 = y * y;
    double S = 0.0, D = 0.0;
    for (int k = SERIES_TERMS - 1; k >= 0; --k) {
      S = S * y2 + series_[k];
      D = D * y2 + (l_ + 2.0 * k) * series_[k];
    }
    const double yl = std::pow(y, l_);
    *J = yl * S;
    *dJ = yl * D / y;
    return;
  }
  if (y > covered()) {  // outside the table: the general routine
    *J = bessel_J(l_, y);
    *dJ = l_ / y * *J - bessel_J(l_ + 1.0, y);
    return;
  }
  const std::size_t k = cell_of(y);
  const double s = y - centre(k);
  const double* a = taylor(k);
  const int terms = terms_of(k);
  double v = a[terms - 1], d = (terms - 1) * a[terms - 1];
  for (int n = terms - 2; n >= 1; --n) {
    v = v * s + a[n];
    d = d * s + n * a[n];
  }
  *J = v * s + a[0];
  *dJ = d;
}

double bessel_grid::J(double y) const {
  double J = 0.0, dJ = 0.0;
  value(y, &J, &dJ);
  return J;
}

// ---- integrals of y^m J_l(y) ---------------------------------------------------

power_moments::power_moments(std::shared_ptr<const bessel_grid> grid, double m, double y_low, double y_high)
    : grid_(std::move(grid)), m_(m) {
  const bessel_grid& g = *grid_;
  const double l = g.order();
  first_ = y_low < bessel_grid::SERIES_END ? 0 : bessel_grid::cell_of(y_low);
  const std::size_t cells = y_high < bessel_grid::SERIES_END ? 0 : std::min(g.cells(), bessel_grid::cell_of(y_high) + 1);
  if (first_ >= cells) return;
  const std::size_t count = cells - first_;
  coef_.assign(count * MAX_TERMS, 0.0);
  terms_.assign(count, 0);
  scale_.resize(count);
  whole_.resize(count);
  // A term below this fraction of the series' magnitude at |s| = 1/2 is rounding.
  constexpr double NEGLIGIBLE = 1e-18;
  double b[MAX_TERMS];
  for (std::size_t c = 0; c < count; ++c) {
    const std::size_t k = first_ + c;
    const double y = bessel_grid::centre(k);
    const double* a = g.taylor(k);
    // u(y_k + s) / y_k^m: value J, slope m J / y_k + J'.
    // Most cells converge within FEW_TERMS; the others are made again with all.
    int n = MAX_TERMS;
    for (int made : {FEW_TERMS, MAX_TERMS}) {
      bessel_equation_taylor(y, 1.0 - 2.0 * m, m * m - l * l, a[0], m * a[0] / y + a[1], made, b);
      double magnitude = 0.0, half = 1.0;
      for (n = 0; n < made; ++n, half *= 0.5) {
        const double term = std::fabs(b[n]) * half;
        magnitude += term;
        if (n >= 2 && term <= NEGLIGIBLE * magnitude && std::fabs(b[n - 1]) * 2.0 * half <= NEGLIGIBLE * magnitude) break;
      }
      if (n < made) break;
      n = MAX_TERMS;
    }
    if (n == MAX_TERMS) {
      usable_ = false;
      return;
    }
    terms_[c] = n;
    for (int j = 0; j < n; ++j) coef_[c * MAX_TERMS + j] = b[j] / (j + 1.0);
    scale_[c] = std::pow(y, m);
    if (!(std::isfinite(scale_[c]) && scale_[c] > 1e-280 && scale_[c] < 1e280)) {
      usable_ = false;
      return;
    }
    whole_[c] = scale_[c] * (primitive(k, 0.5) - primitive(k, -0.5));
  }
}

double power_moments::primitive(std::size_t k, double s) const {
  const std::size_t c = k - first_;
  const double* b = &coef_[c * MAX_TERMS];
  double v = 0.0;
  for (int n = terms_[c] - 1; n >= 0; --n) v = v * s + b[n];
  return v * s;
}

double power_moments::series_integral(double a, double b) const {
  // sum_j c_j (b^e - a^e) / e, e = m + l + 1 + 2j; for a > 0 as
  // a^e expm1(e ln(b/a)) / e, exact also where e is near 0.
  const std::vector<double>& c = grid_->series();
  const double e0 = m_ + grid_->order() + 1.0;
  double total = 0.0;
  if (a == 0.0) {
    if (!(e0 > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    const double b2 = b * b;
    double power = std::pow(b, e0);
    for (std::size_t j = 0; j < c.size(); ++j, power *= b2) total += c[j] * power / (e0 + 2.0 * j);
    return total;
  }
  const double L = std::log(b / a), a2 = a * a;
  double power = std::pow(a, e0);
  for (std::size_t j = 0; j < c.size(); ++j, power *= a2) {
    const double e = e0 + 2.0 * j;
    total += c[j] * power * (e == 0.0 ? L : std::expm1(e * L) / e);
  }
  return total;
}

double power_moments::integral(double a, double b) const {
  if (!usable_) return std::numeric_limits<double>::quiet_NaN();
  double total = 0.0;
  if (a < bessel_grid::SERIES_END) {
    const double top = std::min(b, bessel_grid::SERIES_END);
    total += series_integral(a, top);
    a = top;
  }
  if (!(a < b)) return total;
  if (b > grid_->covered() || bessel_grid::cell_of(b) >= first_ + terms_.size() || bessel_grid::cell_of(a) < first_)
    return std::numeric_limits<double>::quiet_NaN();
  const std::size_t ka = bessel_grid::cell_of(a), kb = bessel_grid::cell_of(b);
  const double sa = a - bessel_grid::centre(ka), sb = b - bessel_grid::centre(kb);
  if (ka == kb) return total + scale_[ka - first_] * (primitive(ka, sb) - primitive(ka, sa));
  total += scale_[ka - first_] * (primitive(ka, 0.5) - primitive(ka, sa));
  for (std::size_t k = ka + 1; k < kb; ++k) total += whole_[k - first_];
  total += scale_[kb - first_] * (primitive(kb, sb) - primitive(kb, -0.5));
  return total;
}

}  // namespace velmora
