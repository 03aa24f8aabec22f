// The disc's delayed response to a time-dependent outer supply (flag_outer 2).
//
// The torque is written as the Green's-function integral over the initial
// torque less the steady profile of the initial supply rate, plus the steady
// profile of the current rate, plus the Bessel series computed here:
//
//   S(x, t) = sum_i J_l(z_i x) I_i(t),
//   I_i(t)  = int_0^t exp(-(t - tau) z_i^2 / tvis)
//                 (8 l^2 constl1[i] Mdot(tau) / tvis - constl2[i] dMdot/dt(tau)) dtau,
//
// with tvis = kappa^2 hout^(1/l), so mode i relaxes on the time tvis / z_i^2,
// the decay of term i of the Green's function. Mdot and its derivative are
// the supply law installed in the model record (accr_out, d_accr_out_d_t).
// Each I_i is one adaptive 15-point Gauss-Kronrod integral over [0, t],
// computed once per time. A supply from a table is linear between its rows,
// where the derivative jumps: there I_i is a sum of closed forms, one per
// interval between rows (supply_history::decayed), exact to rounding. The
// torque solution multiplies S by x^l hout / (2 pi a^2). Units: CGS.
#include "solver/supply_series.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <optional>

#include <gsl/gsl_math.h>
#include <gsl/gsl_sf_bessel.h>

#include "model/gmodel.h"
#include "model/integrand_records.h"
#include "model/settings.h"
#include "numerics/helper_thread.h"
#include "numerics/quadrature.h"
#include "output/fatal.h"
#include "solver/bessel_memo.h"
#include "solver/supply_source.h"

double integrant_tii(double tau, void* p) {
  const auto* params = static_cast<const my_Green_params4*>(p);
  const gmodel* mod = params->mod;
  const int i = params->i;

  const double hout = hout_of(mod);
  const double tvis = mod->kappa * mod->kappa * std::pow(hout, 1.0 / mod->l);
  const double ki = mod->zeroes[i];
  const double L1 = mod->constl1[i];
  const double L2 = mod->constl2[i];

  const double decay = std::exp(-(params->t - tau) * ki * ki / tvis);
  const double supply = 8.0 * L1 * mod->l * mod->l * mod->accr_out(tau) / tvis;
  const double change = mod->d_accr_out_d_t(tau) * L2;
  return decay * (supply - change);
}

double calc_time_int_i(double t, int i, gmodel* mod) {
  if (supply_from_table(mod)) {
    // Linear between the rows: on each interval the integral has a closed form.
    const double tvis = mod->kappa * mod->kappa * std::pow(hout_of(mod), 1.0 / mod->l);
    const double ki = mod->zeroes[i];
    const auto memory = run_supply().decayed(t, ki * ki / tvis);
    return 8.0 * mod->constl1[i] * mod->l * mod->l * memory.rate / tvis - memory.derivative * mod->constl2[i];
  }
  my_Green_params4 params{t, i, mod};
  gsl_function F;
  F.function = &integrant_tii;
  F.params = &params;
  return integrate_qag(&F, 0.0, t);
}

namespace {

// The mode integrals I_i(t) do not depend on the field point: the five
// torques of one accretion-rate fit and every point of a profile share them.
// They are kept for the last time asked for, together with everything the
// integrand reads, and recomputed when any of it changes.
struct mode_integral_cache {
  double t = NAN;
  double kappa = NAN;
  double l = NAN;
  double mass = NAN;
  double r_out_vis = NAN;
  double supply_time = NAN;  // texp_m94, read by the built-in supply law
  unsigned long supply_version = 0;  // the run's supply history, read through a table's law
  double (*accr_out)(double) = nullptr;
  double (*d_accr_out_d_t)(double) = nullptr;
  int terms = 0;
  std::array<double, MAX_SERIES_TERMS> zeroes{};
  std::array<double, MAX_SERIES_TERMS> constl1{};
  std::array<double, MAX_SERIES_TERMS> constl2{};
  std::array<double, MAX_SERIES_TERMS> value{};

  static bool same_prefix(const std::array<double, MAX_SERIES_TERMS>& a, const std::array<double, MAX_SERIES_TERMS>& b,
                          int n) {
    return std::memcmp(a.data(), b.data(), sizeof(double) * n) == 0;
  }

  bool holds(double t_now, int n, const gmodel* mod) const {
    return terms == n && t == t_now && kappa == mod->kappa && l == mod->l && mass == mod->mass &&
           r_out_vis == mod->r_out_vis && supply_time == texp_m94 && supply_version == run_supply_version() &&
           accr_out == mod->accr_out &&
           d_accr_out_d_t == mod->d_accr_out_d_t && same_prefix(zeroes, mod->zeroes, n) &&
           same_prefix(constl1, mod->constl1, n) && same_prefix(constl2, mod->constl2, n);
  }

  // With the helper thread on, it integrates every other mode on its own
  // copy of the model; a mode it could not integrate is integrated here, in
  // order, so a failure stops the run where the serial run stops.
  void fill(double t_now, int n, gmodel* mod) {
    terms = 0;  // invalid until every value is in
    std::array<std::future<std::optional<double>>, MAX_SERIES_TERMS> shared;
    if (helper_available()) {
      auto copy = std::make_shared<gmodel>(*mod);
      for (int k = 1; k < n; k += 2) {
        shared[k] = post_shared([copy, t_now, k] { return calc_time_int_i(t_now, k, copy.get()); });
      }
    }
    for (int k = 0; k < n; ++k) {
      std::optional<double> v;
      if (shared[k].valid()) v = shared[k].get();
      value[k] = v ? *v : calc_time_int_i(t_now, k, mod);
    }
    t = t_now;
    kappa = mod->kappa;
    l = mod->l;
    mass = mod->mass;
    r_out_vis = mod->r_out_vis;
    supply_time = texp_m94;
    supply_version = run_supply_version();
    accr_out = mod->accr_out;
    d_accr_out_d_t = mod->d_accr_out_d_t;
    std::memcpy(zeroes.data(), mod->zeroes.data(), sizeof(double) * n);
    std::memcpy(constl1.data(), mod->constl1.data(), sizeof(double) * n);
    std::memcpy(constl2.data(), mod->constl2.data(), sizeof(double) * n);
    terms = n;
  }
};

mode_integral_cache& integral_cache() {
  static mode_integral_cache cache;
  return cache;
}

}  // namespace

const double* mode_time_integrals(double t, gmodel* mod) {
  const int size = std::max(0, std::min(mod->len, MAX_SERIES_TERMS));
  mode_integral_cache& cache = integral_cache();
  if (!cache.holds(t, size, mod)) cache.fill(t, size, mod);
  return cache.value.data();
}

double sum_time_int(double x, double t, gmodel* mod) {
  std::printf("calculate sum_time_int\n");
  const int size = mod->len;
  if (size > MAX_SERIES_TERMS) {
    std::printf("Series of %d terms requested; at most %d are possible. Exit\n", size, MAX_SERIES_TERMS);
    std::exit(exit_status::invalid_model);
  }
  std::array<double, MAX_SERIES_TERMS> u{};
  if (size > 0) bessel_row(x, size, mod, u.data());

  const double* I = mode_time_integrals(t, mod);

  double total = 0.0;
  for (int k = 0; k < size; ++k) total += I[k] * u[k];
  return total;
}
