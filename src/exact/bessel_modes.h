// The eigenmodes of the viscous disc: zeros of J_(l-1) for any order l.
//
// With the outer edge at x = 1 and zero torque at the centre, the torque
// F(x, t) of a disc with viscosity nu ~ r^(2 - 0.5/l) is a sum of the
// eigenmodes x^l J_l(z_i x), where z_i are the positive zeros of J_(l-1):
// that makes dF/dx vanish at the edge (d/dx [x^l J_l(z x)] = z x^l J_(l-1)(z x)).
// Mode i decays as exp(-(z_i/z_0)^2 t/texp).
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "exact/bessel_grid.h"

namespace velmora {

// The orders the solution is built and tested for: the viscosity index l of
// the parameter file, continuous over this range.
constexpr double MIN_ORDER = 0.1;
constexpr double MAX_ORDER = 10.0;

// Throws invalid_parameter naming the keyword l unless MIN_ORDER <= l <= MAX_ORDER.
void check_order(double l);

// The first n positive zeros of J_(l-1), ascending, to double precision:
// bracketed by a scan for sign changes (neighbouring zeros lie more than 3
// apart) and refined by Newton steps inside the bracket. J_(l-1) is
// evaluated through the recurrence (2l/x) J_l - J_(l+1), so negative orders
// l - 1 need no reflection formula.
std::vector<double> bessel_zeros(double l, std::size_t n);

// J_nu(x) for nu >= 0: GSL's value; where GSL's single-point routine gives
// no finite number, the recurrence from the two orders above, and where that
// fails too (x an exact zero of J_(nu - round(nu)), see the definition), the
// mean of the neighbours x (1 -+ k eps).
double bessel_J(double nu, double x);

// The first n zeros of J_(l-1) from the tabulated J_l of the grid, which is
// extended as far as they reach: the zeros of y J_(l-1) = y J_l' + l J_l,
// bracketed by a scan in half units, then at the cells' centres (neighbouring
// zeros lie more than 3 apart), and refined by Newton steps inside the
// bracket. The same zeros as bessel_zeros to rounding, without a
// general-order Bessel evaluation. `known` are the first zeros, kept; J_at,
// if given, receives J_l at each new zero.
std::vector<double> tabulated_zeros(bessel_grid& grid, std::size_t n, std::vector<double> known = {},
                                    std::vector<double>* J_at = nullptr);

// What every sum over the modes of one order needs, for the first count()
// modes; grown on request, shared by every model of the order. Thread-safe:
// a snapshot handed out is never changed afterwards.
struct mode_values {
  double l;
  std::vector<double> z;         // zeros of J_(l-1)
  std::vector<double> J_edge;    // J_l(z_i), the mode at the edge
  std::vector<double> decay;     // (z_i/z_0)^2: decay rate in units of 1/texp
  std::vector<double> centre;    // 2 (z_i/2)^l / Gamma(l+1) / J_l(z_i)^2: the centre slope of mode i's share
  std::vector<double> steady;    // 2 l J_l(z_i) / z_i^2: projection of x^(2l) on mode i
  // Shortest time (texp) over which mode i decays below exp(-40) times the
  // growth (z_i/z_0)^(l+2) of its weight: decreasing in i.
  std::vector<double> span;
  // J_l tabulated over [0, z.back()] at least: every J_l(z_i x), 0 <= x <= 1.
  std::shared_ptr<const bessel_grid> grid;
  std::size_t count() const { return z.size(); }
};

class order_modes {
 public:
  explicit order_modes(double l);  // throws invalid_parameter for an order out of range
  double order() const { return l_; }
  // Values for at least n modes (more may be given).
  std::shared_ptr<const mode_values> at_least(std::size_t n) const;

 private:
  double l_;
  mutable std::mutex mutex_;
  mutable std::shared_ptr<const mode_values> values_;
};

// Largest number of modes a sum may use.
constexpr std::size_t MAX_MODES = 4000;

// A term of a modal sum is dropped once its decay factor is below
// exp(-MODE_CUTOFF) times the growth of its weight.
constexpr double MODE_CUTOFF = 40;

}  // namespace velmora
