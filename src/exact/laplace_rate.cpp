// The centre rate at early times from the Laplace transform: complex Bessel
// functions of real order and the inversion on the steepest-descent parabola.
// See laplace_rate.h for the method.
#include "exact/laplace_rate.h"

#include <cmath>
#include <memory>

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_gamma.h>

#include "exact/errors.h"

namespace velmora {

namespace {

constexpr double PI = 3.141592653589793;
// From this |z| on, the large-argument expansions of I and K reach double
// precision for every order the model takes (|nu| <= 9): their terms
// (4 nu^2 - (2k - 1)^2) / (8 k z) shrink from the second on and the smallest
// is far below 1e-17.
constexpr double LARGE_ARGUMENT = 40.0;
constexpr double SERIES_TOLERANCE = 1e-17;  // a series ends once its term is below this of its sum
// The same test on squared moduli (std::norm), which costs no square root,
// where the terms stay far below the square root of the largest double.
constexpr double SERIES_TOLERANCE_SQUARED = SERIES_TOLERANCE * SERIES_TOLERANCE;
constexpr std::size_t LAGUERRE_NODES = 96;  // measured: 1e-15 against GSL's K_nu for real z >= 1, nu <= 9
constexpr int MAX_SERIES_TERMS = 5000;
// A series whose terms grow like exp(|q|) is carried in units of 1e200 once
// they pass it, so that it never overflows.
constexpr double RESCALE = 1e200;
const double LOG_RESCALE = std::log(RESCALE);

// sum_k (+-1)^k a_k(nu) / z^k, a_k = prod_{j<=k} (4 nu^2 - (2j - 1)^2) / (8 j): the
// large-argument series of I (alternating) and K, to its smallest term.
complex_t hankel_series(double nu, complex_t z, bool alternating) {
  const double mu = 4.0 * nu * nu;
  complex_t term = 1.0, sum = 1.0;
  double previous = 1.0;
  for (int k = 1; k < MAX_SERIES_TERMS; ++k) {
    const double odd = 2.0 * k - 1.0;
    term *= (mu - odd * odd) / (8.0 * k) / (alternating ? -z : z);
    const double size = std::norm(term);  // squared moduli throughout
    if (size == 0.0) break;
    if (odd * odd > mu && size > previous) break;  // past the smallest term: the rest diverges
    sum += term;
    previous = size;
    if (size < SERIES_TOLERANCE_SQUARED * std::norm(sum)) break;
  }
  return sum;
}

}  // namespace

complex_t bessel_I_scaled(double nu, complex_t z) {
  if (std::abs(z) <= LARGE_ARGUMENT) {
    // (z/2)^nu / Gamma(nu + 1) sum_k (z^2/4)^k / (k! (nu + 1)_k), times e^-z.
    const complex_t quarter = 0.25 * z * z;
    complex_t term = 1.0, sum = 1.0;
    const double bound = std::abs(z);
    for (int k = 1; k < MAX_SERIES_TERMS; ++k) {
      term *= quarter / (k * (nu + k));
      sum += term;
      if (k > bound && std::norm(term) < SERIES_TOLERANCE_SQUARED * std::norm(sum)) break;
    }
    return std::exp(nu * std::log(0.5 * z) - gsl_sf_lngamma(nu + 1.0) - z) * sum;
  }
  // e^z / sqrt(2 pi z) sum (-1)^k a_k / z^k + i e^(+-i nu pi) e^-z / sqrt(2 pi z) sum a_k / z^k,
  // the upper sign for Im z >= 0.
  const complex_t root = std::sqrt(2.0 * PI * z);
  const double sign = z.imag() >= 0.0 ? 1.0 : -1.0;
  const complex_t turn = complex_t(0.0, sign) * std::exp(complex_t(0.0, sign * nu * PI));
  return (hankel_series(nu, z, true) + turn * std::exp(-2.0 * z) * hankel_series(nu, z, false)) / root;
}

bessel_K_scaled::bessel_K_scaled(double nu) : nu_(std::fabs(nu)) { log_gamma_ = gsl_sf_lngamma(nu_ + 0.5); }

void bessel_K_scaled::make_rule() const {
  using fixed_owner = std::unique_ptr<gsl_integration_fixed_workspace, decltype(&gsl_integration_fixed_free)>;
  fixed_owner w(gsl_integration_fixed_alloc(gsl_integration_fixed_laguerre, LAGUERRE_NODES, 0.0, 1.0, nu_ - 0.5, 0.0),
                &gsl_integration_fixed_free);
  if (!w) throw solution_error("the Gauss-Laguerre nodes of the early-time solution could not be computed");
  const double* x = gsl_integration_fixed_nodes(w.get());
  const double* v = gsl_integration_fixed_weights(w.get());
  node_.assign(x, x + LAGUERRE_NODES);
  weight_.assign(v, v + LAGUERRE_NODES);
}

complex_t bessel_K_scaled::operator()(complex_t z) const {
  const complex_t root = std::sqrt(PI / (2.0 * z));
  if (std::abs(z) > LARGE_ARGUMENT) return root * hankel_series(nu_, z, false);
  std::call_once(rule_made_, [this] { make_rule(); });
  const double power = nu_ - 0.5;
  complex_t sum = 0.0;
  for (std::size_t j = 0; j < node_.size(); ++j) sum += weight_[j] * std::pow(1.0 + node_[j] / (2.0 * z), power);
  return root * sum * std::exp(-log_gamma_);
}

double parabola_step(double exponent) {
  constexpr double ERROR_EXPONENT = 36.0;  // the rule's error below exp(-36) of the result
  constexpr double REACH = 0.9;            // the strip used when the saddle term allows the full width
  const double saddle = PI / std::sqrt(ERROR_EXPONENT * exponent);
  const double pole = 2.0 * PI * REACH / (REACH * REACH * exponent + ERROR_EXPONENT + 3.0);
  return std::min(saddle, pole);
}

laplace_rate::laplace_rate(double l, double z0, double m, double x_in, double x_out)
    : l_(l), z0_(z0), x_in_(x_in), x_out_(x_out), power_(m + l + 1.0), K_(l - 1.0) {
  log_gamma_l_ = gsl_sf_lngamma(l);
  log_gamma_l1_ = gsl_sf_lngamma(l + 1.0);
}

double laplace_rate::reflection(double tau) const {
  const double a = 2.0 - x_out_;  // the image of the matter's outer edge, seen from the centre
  const double exponent = a * a * z0_ * z0_ / (4.0 * tau);
  const double ratio = x_in_ / x_out_;
  const double nu = l_ - 1.0;
  auto integrand = [&](complex_t s) -> complex_t {
    const complex_t q = z0_ * std::sqrt(s);
    // S = sum_k (q^2/4)^k / (k! (l+1)_k) (x_out^(P+2k) - x_in^(P+2k)) / (P+2k), from
    // int x^m I_l(q x) dx = (q/2)^l / Gamma(l+1) S, summed as S / x_out^P (its
    // terms are bounded by exp(|q| x_out)).
    const double reach = std::abs(q) * x_out_;
    const complex_t quarter = 0.25 * q * q * x_out_ * x_out_;
    complex_t c = 1.0, sum = 0.0;
    double log_offset = 0.0;  // the terms are carried divided by exp(log_offset)
    double ratio_power = std::pow(ratio, power_);
    const double ratio2 = ratio * ratio;
    const double bound = 0.25 * reach * reach;
    for (int k = 0; k < MAX_SERIES_TERMS; ++k) {
      if (k > 0) {
        c *= quarter / (k * (l_ + k));
        ratio_power *= ratio2;
      }
      if (std::abs(c) > RESCALE) {
        c /= RESCALE;
        sum /= RESCALE;
        log_offset += LOG_RESCALE;
      }
      const complex_t term = c * ((1.0 - ratio_power) / (power_ + 2.0 * k));
      sum += term;
      // (moduli, not their squares: the terms are carried up to RESCALE, whose square overflows)
      if (k * (l_ + k) > bound && std::abs(term) < SERIES_TOLERANCE * std::abs(sum)) break;
    }
    // exp(s t) z_0^2 (q/2)^(2l) / Gamma(l+1)^2 x_out^P [K_nu(q) / I_nu(q)] S, with
    // K_nu(q) / I_nu(q) = exp(-2q) K~ / I~; the sizes (up to exp(|q| x_out) for
    // the sum) are joined in one exponent.
    const complex_t log_size = s * tau + 2.0 * l_ * std::log(0.5 * q) - 2.0 * log_gamma_l1_ + power_ * std::log(x_out_) -
                               2.0 * q + std::log(sum) + log_offset;
    return z0_ * z0_ * std::exp(log_size) * K_(q) / bessel_I_scaled(nu, q);
  };
  return invert_on_parabola(tau, exponent, integrand);
}

double laplace_rate::supply_response(double tau, const supply_change& change) const {
  const double exponent = z0_ * z0_ / (4.0 * tau);
  const double nu = l_ - 1.0;
  auto integrand = [&](complex_t s) -> complex_t {
    const complex_t q = z0_ * std::sqrt(s);
    // exp(s t) h(q) = exp(s t + nu ln(q/2) - ln Gamma(l) - q) / (e^-q I_nu(q))
    const complex_t transfer = std::exp(s * tau + nu * std::log(0.5 * q) - log_gamma_l_ - q) / bessel_I_scaled(nu, q);
    complex_t supply = change.impulse + change.step / s + change.ramp / (s * s);
    for (std::size_t j = 0; j < change.n; ++j) supply += change.amplitude[j] / (s + change.rate[j]);
    return transfer * supply;
  };
  return invert_on_parabola(tau, exponent, integrand);
}

}  // namespace velmora
