// Green's function of the viscous diffusion equation for the torque.
//
// In the dimensionless radius x (r = r_out_vis x^(4l)) the response at the
// field point x, a time t after a unit initial torque at the source point x1,
// is the Fourier-Bessel series over the zeros z_i of J_(l-1):
//
//   G = (2/a^2) x1 (x/x1)^l  sum_i exp(-(z_i/kappa)^2 hout^(-1/l) t)
//                                  J_l(z_i x1) J_l(z_i x) / J_l(z_i a)^2.
//
// It expands x^(-l) F in the functions J_l(z_i x), orthogonal with weight x
// on [0, a] (a Dini series: z J_l'(z) + l J_l(z) = z J_(l-1)(z) vanishes at
// the zeros), whose norms are a^2 J_l(z_i a)^2 / 2. Each mode x^l J_l(z_i x)
// has zero x-derivative at a: no torque gradient, so no outflow, at the edge.
// With the set-up's kappa, term i decays as exp(-(z_i/z_0)^2 t/texp), so past
// texp only the first five terms are summed.
//
// With flag_green == 2 the same entry point returns dG/dxi at xi = x^(2l),
// by a numerical difference of the series in xi; the accretion rate is
// 2 pi / hout times the xi-derivative of the torque. The flag goes to 1 for
// the duration of that difference, so the samples it takes are series values.
//
// Each series evaluation needs three rows of J_l (source, field and edge
// arguments) from GSL's sequence routine; they come from the row memo, which
// answers with the bits the routine returns, and the decay factors are
// computed once per time. The arithmetic is kept in a fixed order so that
// repeated runs reproduce every bit. Called from the
// torque integrand, the source-time convolution and the accretion rate.
#include "solver/green.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gsl/gsl_deriv.h>
#include <gsl/gsl_math.h>
#include <gsl/gsl_sf_bessel.h>

#include "model/constants.h"
#include "model/gmodel.h"
#include "model/integrand_records.h"
#include "model/settings.h"
#include "output/fatal.h"
#include "solver/bessel_memo.h"

namespace {

[[noreturn]] void stop_zero_bessel_argument() {
  std::printf("\n\n Check initial len value or smallest x! Bessel function is not calculated at 0 \n\n");
  std::exit(exit_status::invalid_model);
}

[[noreturn]] void stop_series_length(int n) {
  std::printf("Series of %d terms requested; between 1 and %d are possible. Exit\n", n, MAX_SERIES_TERMS);
  std::exit(exit_status::invalid_model);
}

// exp(x) of a double is +0 for every x below about -745.13 (the smallest
// subnormal is exp(-744.44)); -750 is safely past it.
constexpr double EXP_UNDERFLOW = -750.0;

// exp(-(z_i/kappa)^2 P t), i < n, with P = (G M r_out_vis)^(-1/(2l)): one row
// per time, the same for every source point. Kept per thread for the last
// time, length and model constants asked for.
struct decay_row {
  double t = NAN;
  int n = 0;
  double kappa = NAN;
  double mass = NAN;
  double r_out_vis = NAN;
  double l = NAN;
  std::array<double, MAX_SERIES_TERMS> zeroes{};
  std::array<double, MAX_SERIES_TERMS> factor{};
};

const double* decay_factors(double t, int n, const gmodel* mod) {
  thread_local decay_row row;
  const bool same = row.n == n && row.t == t && row.kappa == mod->kappa && row.mass == mod->mass &&
                    row.r_out_vis == mod->r_out_vis && row.l == mod->l &&
                    std::memcmp(row.zeroes.data(), mod->zeroes.data(), sizeof(double) * n) == 0;
  if (!same) {
    row.t = t;
    row.n = n;
    row.kappa = mod->kappa;
    row.mass = mod->mass;
    row.r_out_vis = mod->r_out_vis;
    row.l = mod->l;
    std::memcpy(row.zeroes.data(), mod->zeroes.data(), sizeof(double) * n);
    const double P = std::pow(phys::G * mod->mass * mod->r_out_vis, -0.5 / mod->l);
    for (int i = 0; i < n; ++i) {
      const double q = mod->zeroes[i] / mod->kappa;
      const double exponent = -((q * q) * P) * t;
      // Below EXP_UNDERFLOW exp returns +0 exactly; the call is skipped.
      row.factor[i] = exponent < EXP_UNDERFLOW ? 0.0 : std::exp(exponent);
    }
  }
  return row.factor.data();
}

double series_value(double x, double t, double x1, const gmodel* mod) {
  const int n = (t > mod->texp) ? LATE_SERIES_TERMS : mod->len;
  if (n < 1 || n > MAX_SERIES_TERMS) stop_series_length(n);
  for (int i = 0; i < n; ++i) {
    if (x1 * mod->zeroes[i] == 0.0) stop_zero_bessel_argument();
  }

  std::array<double, MAX_SERIES_TERMS> v;  // J_l(z_i x1): source point
  std::array<double, MAX_SERIES_TERMS> u;  // J_l(z_i x): field point
  std::array<double, MAX_SERIES_TERMS> w;  // J_l(z_i a): outer edge
  bessel_row(x1, n, mod, v.data());
  bessel_row(x, n, mod, u.data());
  bessel_row(mod->a, n, mod, w.data());

  const double* decay = decay_factors(t, n, mod);
  double S = 0.0;
  for (int i = 0; i < n; ++i) S += decay[i] * v[i] * u[i] / (w[i] * w[i]);
  return (2.0 / (mod->a * mod->a)) * x1 * std::pow(x / x1, mod->l) * S;
}

}  // namespace

bool green_series_defined(double x1, const gmodel* mod) {
  for (int n : {mod->len, LATE_SERIES_TERMS}) {
    if (n < 1 || n > MAX_SERIES_TERMS) return false;
    for (int i = 0; i < n; ++i) {
      if (x1 * mod->zeroes[i] == 0.0) return false;
    }
  }
  return true;
}

double Green_x_x1_t(double x, double t, double x1, gmodel* mod) {
  if (mod->flag_green != 2) return series_value(x, t, x1, mod);
  mod->flag_green = 1;
  double discarded_error = 0.0;
  const double derivative = numeric_mdot_Green_x_x1_t(x, t, x1, mod, &discarded_error);
  mod->flag_green = 2;
  return derivative;
}

double mod_Green_xi_x1_t(double xi, void* p) {
  const auto* params = static_cast<const my_Green_params*>(p);
  return Green_x_x1_t(std::pow(xi, 0.5 / params->mod->l), params->t, params->x1, params->mod);
}

double numeric_mdot_Green_x_x1_t(double x, double t, double x1, gmodel* mod, double* abserr) {
  my_Green_params params{t, x1, mod};
  gsl_function F;
  F.function = &mod_Green_xi_x1_t;
  F.params = &params;

  const double xi = std::pow(x, 2.0 * mod->l);
  double result = 0.0;
  if (x > DERIVATIVE_SWITCH_X) {
    gsl_deriv_central(&F, xi, PRECISION, &result, abserr);
  } else {
    gsl_deriv_forward(&F, xi, PRECISION, &result, abserr);
  }
  return result;
}
