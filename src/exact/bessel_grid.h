// J_l(y) of one order, tabulated once so that the modes of a new order (its
// zeros, the modes' values at the edge and at any radius, the projections of
// a ring of matter) cost Horner sums instead of general-order Bessel
// evaluations.
//
// Below SERIES_END the power series J_l(y) = sum_k c_k y^(l+2k) is used
// directly. Above it, J_l is stored as its Taylor series at the cell centres
// y_k = FIRST_CENTRE + k (cells of unit width): Bessel's equation
// y^2 J'' + y J' + (y^2 - l^2) J = 0 gives every Taylor coefficient from the
// value and the slope by a short recurrence, and the series at y_k, summed at
// s = 1, gives the value and slope at y_(k+1). The convergence radius at y_k
// is y_k (the branch point at 0) and the oscillating part contributes 1/n!,
// so at a distance of at most 1 from a centre >= 5, TAYLOR_TERMS terms are
// exact to rounding. The chain is anchored to GSL's J_l, J_(l+1) at its start
// and every ANCHOR_CELLS cells, so its rounding cannot accumulate.
//
// Integrals of y^m J_l(y) (the projections of a power-law ring of matter on
// the modes) use the same cells: u = y^m J_l solves
// y^2 u'' + (1 - 2m) y u' + (y^2 + m^2 - l^2) u = 0, whose Taylor series at
// a centre follow from J's value and slope there, and integrate term by term.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace velmora {

class bessel_grid {
 public:
  static constexpr double SERIES_END = 4.5;    // power series below, cells above
  static constexpr double FIRST_CENTRE = 5.0;  // centre of cell 0; cell k is [y_k - 1/2, y_k + 1/2]
  static constexpr int TAYLOR_TERMS = 26;      // stored per cell: (1/5)^26 and 1/26! below rounding
  static constexpr int FAR_TERMS = 21;         // used from centre FAR_CENTRE on: (1/10)^21 and 1/21!
  static constexpr double FAR_CENTRE = 10.0;
  static constexpr int SERIES_TERMS = 24;      // of the power series: (y^2/4)^k/k!^2 < 1e-20 by k = 24 at 4.5
  static constexpr std::size_t ANCHOR_CELLS = 64;

  explicit bessel_grid(double l);  // no cells yet: covers [0, SERIES_END]
  double order() const { return l_; }
  // Adds cells until the grid covers [0, y_max].
  void extend_to(double y_max);
  // Largest argument covered.
  double covered() const { return cells() == 0 ? SERIES_END : FIRST_CENTRE + static_cast<double>(cells()) - 0.5; }
  std::size_t cells() const { return taylor_.size() / TAYLOR_TERMS; }

  // J_l(y) and J_l'(y) for 0 < y <= covered() (y = 0 gives J_l(0) = 0 for l > 0, slope per l).
  void value(double y, double* J, double* dJ) const;
  double J(double y) const;

  // Taylor coefficients of J_l at the centre of cell k, TAYLOR_TERMS of them.
  const double* taylor(std::size_t k) const { return &taylor_[k * TAYLOR_TERMS]; }
  // Power series J_l(y) = y^l sum_k series()[k] y^(2k).
  const std::vector<double>& series() const { return series_; }
  static double centre(std::size_t k) { return FIRST_CENTRE + static_cast<double>(k); }
  // The cell holding y >= SERIES_END (its centre nearest to y).
  static std::size_t cell_of(double y);
  // The number of Taylor terms cell k carries (the rest of its TAYLOR_TERMS are 0).
  static int terms_of(std::size_t k) { return centre(k) < FAR_CENTRE ? TAYLOR_TERMS : FAR_TERMS; }

 private:
  void append_cell(double J, double dJ);
  double l_;
  std::vector<double> series_;
  std::vector<double> taylor_;
};

// The Taylor coefficients c[0..n) at y0 of the solution of
// y^2 u'' + p y u' + (y^2 + q) u = 0 with u(y0) = value, u'(y0) = slope
// (n at most 64).
void bessel_equation_taylor(double y0, double p, double q, double value, double slope, int n, double* c);

// Integrals of y^m J_l(y) over [a, b] inside [y_low, y_high] and the grid's
// range, for one power m; usable() is false where the power makes the
// cells' series too slow to converge (|m| large near small y) or y^m leaves
// the range of doubles, and the caller then integrates otherwise.
class power_moments {
 public:
  power_moments(std::shared_ptr<const bessel_grid> grid, double m, double y_low, double y_high);
  bool usable() const { return usable_; }
  // Integral from a to b, y_low <= a <= b <= y_high (nan outside).
  // Below SERIES_END from the power series, which needs a > 0 or m + l > -1.
  double integral(double a, double b) const;

 private:
  static constexpr int MAX_TERMS = 48;  // at most the recurrence's 64
  static constexpr int FEW_TERMS = 24;  // enough for most cells
  double primitive(std::size_t k, double s) const;  // integral over [y_k, y_k + s] of cell k's series
  double series_integral(double a, double b) const;
  std::shared_ptr<const bessel_grid> grid_;
  std::vector<int> terms_;     // per cell
  double m_;
  std::size_t first_ = 0;
  bool usable_ = true;
  std::vector<double> coef_;   // per cell, MAX_TERMS: coefficients of u(y_k + s) / y_k^m divided by n + 1
  std::vector<double> scale_;  // y_k^m
  std::vector<double> whole_;  // integral over the whole cell
};

}  // namespace velmora
