// Projections of power-law profiles on the Bessel modes.
#pragma once

#include <cstddef>
#include <memory>

namespace velmora {

// out[i] = integral from alpha to beta of x^m J_l(z[i] x) dx, for i < n.
// The integrals the modal sums need: the projection of a torque profile
// f(x) = x^p on the mode x^l J_l(z x) with the weight x^(1-2l) is this
// integral with m = p + 1 - l. Gauss-Legendre panels: from alpha (or from
// where the small-argument series takes over, near 0) panels grow
// geometrically by at most a factor 8, which resolves x^m at the origin, and
// are at most 12/z wide, about two periods of the Bessel function, where a
// 20-point rule is exact to rounding. Requires 0 <= alpha < beta and, when
// alpha is 0, m + l > -1.
void power_projections(double l, double m, double alpha, double beta, const double* z, std::size_t n, double* out);

class bessel_grid;

// The same integrals from the order's tabulated J_l, as
// z^(-m-1) times the integral of y^m J_l(y) from z alpha to z beta (the
// cells' series integrated term by term, see bessel_grid.h): a few dozen
// operations a mode instead of hundreds of Bessel evaluations. Modes the
// table cannot give (beyond its range, or a power m too large for its cells'
// series) are integrated by power_projections. z ascending.
void tabulated_projections(const std::shared_ptr<const bessel_grid>& grid, double m, double alpha, double beta, const double* z,
                           std::size_t n, double* out);

}  // namespace velmora
