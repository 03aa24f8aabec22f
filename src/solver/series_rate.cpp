// The inner accretion rate of the truncated Bessel series, exactly.
//
// The Green's function is separable in the source and field points, so the
// torque of an initial distribution F0 is
//
//   F(x, t) = (2/a^2) x^l sum_i exp(-lambda_i t) J_l(z_i x) / J_l(z_i a)^2 P_i,
//   P_i     = int_{MINX a}^{a} F0(x1) x1^(1-l) J_l(z_i x1) dx1,
//
// with lambda_i = (z_i/kappa)^2 hout^(-1/l) and the same truncation as the
// Green's function (len terms up to texp, five past it). As x -> 0,
// x^l J_l(z x) -> xi (z/2)^l / Gamma(l+1), so the rate 2 pi / hout dF/dxi at
// the centre is
//
//   Mdot(t) = (2 pi / hout) (2/a^2) sum_i exp(-lambda_i t) c_i P_i,
//   c_i     = (z_i/2)^l / Gamma(l+1) / J_l(z_i a)^2.
//
// Outer supply (the torque solution's decomposition, term by term):
//   flag_outer 1: F0 is replaced by F0 - Q(x1, mdot_out), Q = M hout xi^2/(4 pi)
//     (as a multiple of the projection of x1^(4l)); the constant source adds
//     (2 pi / hout)(2/a^2) sum_i c_i PW_i tau_i(t), PW_i the projection of
//     its weight W(x1) (a multiple of x1^(4l-2)) and tau_i the time integral
//     of exp(-lambda_i s) over the elapsed times s in [0, t] at which the
//     Green's function carries term i: all of them for i < 5, those up to
//     texp for the others, so tau_i is split at s = texp exactly.
//   flag_outer 2: F0 - Q(x1, accr_out(0)) is projected, and the supply
//     series x^l hout/(2 pi a^2) sum_i J_l(z_i x) I_i(t) adds
//     (1/a^2) sum_i (z_i/2)^l / Gamma(l+1) I_i(t), with I_i of
//     calc_time_int_i over len terms, as the torque solution sums them.
//   The steady profile Q(x, M) of the current rate is ~ xi^2: no slope at 0.
//
// The projections are 3 x max(len, 5) adaptive 61-point Gauss-Kronrod
// integrals to 1e-10 relative, each split at the ignition radii (where F0
// jumps), with an absolute floor of 1e-13 times int |f| x1^(1-l) dx1, a bound
// of every |P_i| since |J_l| <= 1. They are computed once per model: the
// cache is keyed on every model value they depend on, compared bitwise.
// The fast path takes its torques from these projections (series_torque);
// the rate here is what the tests hold the series to. Units CGS (g/s).
#include "solver/series_rate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <future>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_gamma.h>

#include "exact/bessel_modes.h"
#include "model/constants.h"
#include "model/gmodel.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/helper_thread.h"
#include "numerics/quadrature.h"
#include "solver/initial_torque.h"
#include "solver/supply_series.h"

namespace {

struct projection_params {
  const gsl_function* shape;  // f(x1); null for the power-law shapes
  double power;               // exponent of the power-law shape x1^power
  double l;
  double z;  // 0 for the bound |f| x1^(1-l)
};

double shape_value(double x1, const projection_params* p) {
  return p->shape != nullptr ? GSL_FN_EVAL(p->shape, x1) : std::pow(x1, p->power);
}

double projection_integrand(double x1, void* v) {
  const auto* p = static_cast<const projection_params*>(v);
  return shape_value(x1, p) * std::pow(x1, 1.0 - p->l) * velmora::bessel_J(p->l, p->z * x1);
}

double bound_integrand(double x1, void* v) {
  const auto* p = static_cast<const projection_params*>(v);
  return std::fabs(shape_value(x1, p)) * std::pow(x1, 1.0 - p->l);
}

// The points where the interval [MINX a, a] is split: its ends and the
// ignition radii that fall inside it.
struct break_points {
  std::array<double, 4> x;
  int count;
};

break_points ignition_breaks(const gmodel* mod) {
  break_points b{};
  const double lo = MINX * mod->a;
  const double hi = mod->a;
  b.x[b.count++] = lo;
  for (double r : {mod->r_ign_in, mod->r_ign_out}) {
    const double x = std::pow(r / mod->r_out_vis, 0.25 / mod->l);
    if (x > b.x[b.count - 1] && x < hi) b.x[b.count++] = x;
  }
  b.x[b.count++] = hi;
  return b;
}

struct piecewise_result {
  double value;
  double error;
  bool converged;
};

piecewise_result integrate_pieces(double (*f)(double, void*), projection_params* p, const break_points& b,
                                  double epsabs, double epsrel) {
  gsl_function F;
  F.function = f;
  F.params = p;
  piecewise_result total{0.0, 0.0, true};
  for (int k = 0; k + 1 < b.count; ++k) {
    double v = 0.0, e = 0.0;
    const int status = integrate_qag_to(&F, b.x[k], b.x[k + 1], epsabs, epsrel, PROJECTION_KEY, &v, &e);
    total.value += v;
    total.error += e;
    if (status != GSL_SUCCESS) total.converged = false;
  }
  return total;
}

// Projections of one shape on the first `terms` modes, into out[0..terms).
void project_shape(const gmodel* mod, projection_params p, int terms, const break_points& b,
                   std::array<double, MAX_SERIES_TERMS>& out, series_projections* proj) {
  p.z = 0.0;
  const piecewise_result bound = integrate_pieces(&bound_integrand, &p, b, 0.0, PROJECTION_BOUND_EPSREL);
  const double floor = PROJECTION_FLOOR * bound.value / (b.count - 1);
  // The modes are independent integrals: with the helper thread on, it takes
  // every other one (each with its own parameter record); the results are
  // gathered in mode order, so they and the flags are the serial run's.
  std::array<piecewise_result, MAX_SERIES_TERMS> results{};
  std::array<std::future<void>, MAX_SERIES_TERMS> shared;
  if (helper_available()) {
    for (int i = 1; i < terms; i += 2) {
      const double z = mod->zeroes[i];
      piecewise_result* slot = &results[i];
      const break_points* pieces = &b;
      shared[i] = post_shared_work([p, z, slot, pieces, floor] {
        projection_params q = p;
        q.z = z;
        *slot = integrate_pieces(&projection_integrand, &q, *pieces, floor, PROJECTION_EPSREL);
      });
    }
  }
  for (int i = 0; i < terms; ++i) {
    if (shared[i].valid()) {
      shared[i].get();
    } else {
      p.z = mod->zeroes[i];
      results[i] = integrate_pieces(&projection_integrand, &p, b, floor, PROJECTION_EPSREL);
    }
  }
  for (int i = 0; i < terms; ++i) {
    const piecewise_result& r = results[i];
    out[i] = r.value;
    if (!r.converged) proj->converged = false;
    if (bound.value > 0.0) proj->worst_error = std::max(proj->worst_error, r.error / bound.value);
  }
}

double model_initial_torque(double x1, void* mod) { return F_initial(x1, static_cast<gmodel*>(mod)); }

// Every model value the projections depend on, bitwise.
constexpr int KEY_SCALARS = 12;
using projection_key = std::array<double, KEY_SCALARS + MAX_SERIES_TERMS>;

projection_key key_of(const gmodel* mod, int terms) {
  projection_key k{};
  const double scalars[KEY_SCALARS] = {mod->l,          mod->a,           mod->mass,       mod->r_out_vis,
                                       mod->kappa,      mod->mdisk,       mod->r_ign_in,   mod->r_ign_out,
                                       mod->r_mass_in,  mod->r_mass_out,  mod->sigma_index, static_cast<double>(terms)};
  std::copy(scalars, scalars + KEY_SCALARS, k.begin());
  std::copy(mod->zeroes.begin(), mod->zeroes.begin() + terms, k.begin() + KEY_SCALARS);
  return k;
}

int projection_terms(const gmodel* mod) {
  return std::min(MAX_SERIES_TERMS, std::max(mod->len, LATE_SERIES_TERMS));
}

// int over the elapsed times s in [s0, s1] of exp(-lambda s).
double decay_integral(double lambda, double s0, double s1) {
  return std::exp(-lambda * s0) * -std::expm1(-lambda * (s1 - s0)) / lambda;
}

}  // namespace

void compute_series_projections(gmodel* mod, const gsl_function* initial_torque, series_projections* out) {
  const int terms = projection_terms(mod);
  out->terms = terms;
  out->converged = true;
  out->worst_error = 0.0;
  const double l = mod->l;
  const double gamma = gsl_sf_gamma(l + 1.0);
  // The edge values J_l(z_i a) as the Green's function takes them: one sequence call over the ascending z_i a.
  std::array<double, MAX_SERIES_TERMS> edge{};
  for (int i = 0; i < terms; ++i) edge[i] = mod->zeroes[i] * mod->a;
  gsl_sf_bessel_sequence_Jnu_e(l, GSL_PREC_DOUBLE, terms, edge.data());
  for (int i = 0; i < terms; ++i) {
    const double z = mod->zeroes[i];
    out->centre[i] = std::pow(0.5 * z, l) / gamma;
    out->slope[i] = out->centre[i] / (edge[i] * edge[i]);
    out->inverse_norm[i] = 1.0 / (edge[i] * edge[i]);
  }
  const break_points b = ignition_breaks(mod);
  project_shape(mod, projection_params{initial_torque, 0.0, l, 0.0}, terms, b, out->initial, out);
  project_shape(mod, projection_params{nullptr, 4.0 * l, l, 0.0}, terms, b, out->profile_shape, out);
  project_shape(mod, projection_params{nullptr, 4.0 * l - 2.0, l, 0.0}, terms, b, out->weight_shape, out);
}

const series_projections& model_series_projections(gmodel* mod) {
  static series_projections cached{};
  static projection_key cached_key{};
  static bool have_cached = false;
  const projection_key key = key_of(mod, projection_terms(mod));
  if (!have_cached || std::memcmp(key.data(), cached_key.data(), sizeof(double) * key.size()) != 0) {
    gsl_function F0;
    F0.function = &model_initial_torque;
    F0.params = mod;
    compute_series_projections(mod, &F0, &cached);
    cached_key = key;
    have_cached = true;
  }
  return cached;
}

namespace {

// Amplitudes A_i(t) of the modes x^l J_l(z_i x) / J_l(z_i a)^2 in (a^2/2) F(x, t),
// apart from the mode-2 series term and the steady supply profile; returns
// how many there are. The propagated torque lacks the steady profile of the
// supply rate at time 0 (mode 1: mdot_out, mode 2: accr_out(0)); the source
// term of mode 1 weighs each mode by the time its term is carried in the
// Green's function: n = len terms up to texp, five after.
int mode_amplitudes(double t, gmodel* mod, const series_projections& proj,
                    std::array<double, MAX_SERIES_TERMS>& A) {
  const double l = mod->l;
  const double hout = hout_of(mod);
  const double P = std::pow(phys::G * mod->mass * mod->r_out_vis, -0.5 / l);
  const int n = std::min(proj.terms, (t > mod->texp) ? LATE_SERIES_TERMS : mod->len);

  double M0 = 0.0;
  if (mod->flag_outer == 1) M0 = mod->mdot_out;
  else if (mod->flag_outer == 2) M0 = mod->accr_out(0.0);
  const double profile = (M0 * 0.5 / phys::pi) * hout * 0.5;

  A.fill(0.0);
  for (int i = 0; i < n; ++i) {
    const double q = mod->zeroes[i] / mod->kappa;
    A[i] = std::exp(-((q * q) * P) * t) * (proj.initial[i] - profile * proj.profile_shape[i]);
  }
  if (mod->flag_outer != 1) return n;

  const double l_over_kappa = l / mod->kappa;
  const double weight =
      (l_over_kappa * l_over_kappa) * 4.0 * (mod->mdot_out * 0.5 / phys::pi) * std::pow(hout, 1.0 - 1.0 / l);
  const double early = std::min(t, mod->texp);
  for (int i = 0; i < proj.terms; ++i) {
    const double q = mod->zeroes[i] / mod->kappa;
    const double lambda = (q * q) * P;
    double elapsed = 0.0;
    if (i < mod->len) elapsed += decay_integral(lambda, 0.0, early);
    if (i < LATE_SERIES_TERMS && t > mod->texp) elapsed += decay_integral(lambda, mod->texp, t);
    A[i] += weight * proj.weight_shape[i] * elapsed;
  }
  return proj.terms;
}

bool known_mode(const gmodel* mod) { return mod->flag_outer >= 0 && mod->flag_outer <= 2; }

}  // namespace

double series_mdot_in(double t, gmodel* mod, const series_projections& proj) {
  if (!known_mode(mod)) return NAN;
  std::array<double, MAX_SERIES_TERMS> A{};
  const int count = mode_amplitudes(t, mod, proj, A);
  double S = 0.0;
  for (int i = 0; i < count; ++i) S += proj.slope[i] * A[i];
  const double a2 = mod->a * mod->a;
  const double hout = hout_of(mod);
  double rate = (phys::two_pi / hout) * (2.0 / a2) * S;

  if (mod->flag_outer == 2) {
    double supply = 0.0;
    const double* I = mode_time_integrals(t, mod);
    for (int i = 0; i < std::min(mod->len, proj.terms); ++i) supply += proj.centre[i] * I[i];
    rate += supply / a2;
  }
  return rate;
}

double series_torque(double x, double t, gmodel* mod) {
  if (!known_mode(mod)) return NAN;
  const series_projections& proj = model_series_projections(mod);
  std::array<double, MAX_SERIES_TERMS> A{};
  const int count = mode_amplitudes(t, mod, proj, A);
  // J_l(z_i x) one value at a time: GSL's sequence routine, which the
  // Green's function uses, integrates the Bessel equation across the whole
  // row in small steps and costs about a hundred times more per row (and
  // differs from the single values by up to 2e-9).
  const int supply_terms = mod->flag_outer == 2 ? std::min(mod->len, MAX_SERIES_TERMS) : 0;
  const int terms = std::max(count, supply_terms);
  std::array<double, MAX_SERIES_TERMS> J{};
  for (int i = 0; i < terms; ++i) J[i] = velmora::bessel_J(mod->l, mod->zeroes[i] * x);
  double S = 0.0;
  for (int i = 0; i < count; ++i) S += A[i] * J[i] * proj.inverse_norm[i];
  const double a2 = mod->a * mod->a;
  const double hout = hout_of(mod);
  double F = (2.0 / a2) * std::pow(x, mod->l) * S;

  double M = 0.0;  // supply rate whose steady profile the torque carries now
  if (mod->flag_outer == 1) {
    M = mod->mdot_out;
  } else if (mod->flag_outer == 2) {
    M = mod->accr_out(t);
    // The supply series sum_i J_l(z_i x) I_i(t), with the mode integrals of the time.
    const double* I = mode_time_integrals(t, mod);
    double supply = 0.0;
    for (int k = 0; k < supply_terms; ++k) supply += I[k] * J[k];
    F += std::pow(x, mod->l) * hout * 0.5 / phys::pi / a2 * supply;
  }
  return std::pow(x, 4.0 * mod->l) * (M * 0.5 / phys::pi) * hout * 0.5 + F;
}
