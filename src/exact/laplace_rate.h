// The centre rate at early times, from the Laplace transform of the disc
// equation, to relative precision however small the rate is.
//
// In the Laplace variable s of the time (units of texp) the disc equation
// f_t = (1/z_0^2) L f becomes L f - q^2 f = -z_0^2 f0 with q = z_0 sqrt(s),
// whose solutions are x^l I_l(q x) (vanishing at the centre) and x^l K_l(q x).
// With f(0) = 0 and zero slope at the edge, the Green's function of the
// operator with the weight x^(1-2l) is u1(x<) u2(x>), u1 = x^l I_l(q x),
// u2 = x^l [K_l(q x) + c I_l(q x)], c = K_(l-1)(q) / I_(l-1)(q) (the Wronskian
// times the weight is -1). The centre rate of an initial torque f0 is then
//   z_0^2 (q/2)^l / Gamma(l+1) int x^(1-l) [K_l(q x) + c I_l(q x)] f0(x) dx:
// its K part is the disc without an edge (inverted in closed form elsewhere),
// the c part the edge's reflection, which is what this file inverts. The
// supply M(t) enters through the edge's slope df/dx = 2l M, and the centre
// answers it with the transfer function
//   h(q) = (q/2)^(l-1) / (Gamma(l) I_(l-1)(q)),   h -> 1 as s -> 0 (the steady disc).
// Both carry exp(-a q) for some distance a (the reflection 2 - x_out, the
// supply 1): their inverses are of the size exp(-a^2 z_0^2 / (4 t)), and the
// Bromwich integral is taken on the parabola s = s0 (1 + i u)^2 through the
// saddle of exp(s t - a q), s0 = (a z_0 / (2 t))^2, which is that integrand's
// path of steepest descent: the trapezoidal rule in u then converges
// geometrically and every term is of the size of the result, so the rate
// keeps its relative precision where the modal sums cancel.
//
// Immutable after construction; evaluations are re-entrant and thread-safe.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <cstddef>
#include <mutex>
#include <vector>

namespace velmora {

using complex_t = std::complex<double>;

// exp(-z) I_nu(z) for nu > -1 and Re z > 0: the power series up to |z| of 40,
// beyond it the large-argument expansion with both of its exponentials.
complex_t bessel_I_scaled(double nu, complex_t z);

// exp(z) K_nu(z) for real nu and Re z > 0, |z| >= 1, from the integral
//   K_nu(z) = sqrt(pi / (2 z)) e^-z / Gamma(nu + 1/2) int_0^inf e^-u u^(nu - 1/2) (1 + u / (2 z))^(nu - 1/2) du
// by Gauss-Laguerre quadrature (nodes of the weight u^(|nu| - 1/2) e^-u), and
// beyond |z| of 40 its large-argument expansion. The rule (an eigenproblem of
// 96 nodes, about 0.2 ms) is made on the first call that needs it, once, so
// that a model whose early times never reach it does not pay for it.
class bessel_K_scaled {
 public:
  explicit bessel_K_scaled(double nu);
  complex_t operator()(complex_t z) const;

 private:
  void make_rule() const;

  double nu_;
  double log_gamma_;  // ln Gamma(|nu| + 1/2)
  mutable std::once_flag rule_made_;
  mutable std::vector<double> node_, weight_;
};

// Inverse Laplace transform at t > 0 of a function g(s) whose size is about
// exp(-a sqrt(s)), given as the exponent a^2 / (4 t) = `exponent` >= 0.5 and
// a callable returning exp(s t) g(s). Trapezoidal rule on the steepest-descent
// parabola; the step keeps the rule's error below exp(-36) of the result for
// a g analytic off the negative real axis with at most a double pole at 0.
template <class F>
double invert_on_parabola(double t, double exponent, F&& integrand);

// The parabola's step: the rule's error is about exp(E d^2 - 2 pi d / h) of
// the result for singularities at a distance d < 1 from the real u axis (the
// negative s axis and s = 0 lie at d = 1): d = pi / (h E) where that is below
// 0.9, else d = 0.9.
double parabola_step(double exponent);

// One model's early-time inverses: its order, its first zero z_0 and the
// shape of its initial torque, f0 = x^p on [x_in, x_out] with p = m - 1 + l.
class laplace_rate {
 public:
  laplace_rate(double l, double z0, double m, double x_in, double x_out);

  // The outer edge's reflection of the initial torque x^p on [x_in, x_out]
  // in the centre rate at tau (texp), per unit of the torque's scale: what
  // the disc without an edge lacks.
  double reflection(double tau) const;

  // The centre's answer at tau (texp) after the edge's supply changes by
  //   impulse delta(tau) + step + ramp tau + sum_j amplitude[j] exp(-tau rate[j])
  // (g/s, impulse in g/s texp, rates per texp) at tau = 0.
  struct supply_change {
    double impulse = 0.0, step = 0.0, ramp = 0.0;
    const double* amplitude = nullptr;
    const double* rate = nullptr;
    std::size_t n = 0;
  };
  double supply_response(double tau, const supply_change& change) const;

 private:
  double l_, z0_, x_in_, x_out_;
  double power_;  // P = m + l + 1: x^m integrates to x^P / P
  double log_gamma_l_, log_gamma_l1_;
  bessel_K_scaled K_;
};

template <class F>
double invert_on_parabola(double t, double exponent, F&& integrand) {
  constexpr double PI = 3.141592653589793;
  constexpr double NEGLIGIBLE = 1e-18;  // a term below this of the largest ends the sum (with the next two)
  constexpr int MAX_TERMS = 20000;
  const double s0 = exponent / t;
  // So early that s0 overflows (t near the smallest doubles): the inverse is of size exp(-exponent)
  // times powers of s0, 0 in doubles long before; the sum would take inf - inf.
  if (!(s0 < std::numeric_limits<double>::infinity())) return 0.0;
  const double h = parabola_step(exponent);
  const complex_t first = integrand(complex_t(s0, 0.0));
  double sum = first.real(), largest = std::abs(first);
  int small = 0;
  for (int j = 1; j < MAX_TERMS && small < 3; ++j) {
    const double u = j * h;
    const complex_t w(1.0, u);
    const complex_t v = integrand(s0 * w * w) * w;
    sum += 2.0 * v.real();
    const double size = std::abs(v);
    largest = std::max(largest, size);
    small = (size < NEGLIGIBLE * largest && exponent * u * u > 1.0) ? small + 1 : 0;
  }
  return s0 * h / PI * sum;
}

}  // namespace velmora

