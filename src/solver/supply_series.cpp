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
// Each I_i is one adaptive 15-point Gauss-Kronrod integral over [0, t]; the
// torque solution multiplies S by x^l hout / (2 pi a^2). Units: CGS.
#include "solver/supply_series.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gsl/gsl_math.h>
#include <gsl/gsl_sf_bessel.h>

#include "numerics/quadrature.h"
#include "output/fatal.h"
#include "run/integrand_records.h"
#include "run/model.h"
#include "run/settings.h"

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
  my_Green_params4 params{t, i, mod};
  gsl_function F;
  F.function = &integrant_tii;
  F.params = &params;
  return integrate_qag(&F, 0.0, t);
}

double sum_time_int(double x, double t, gmodel* mod) {
  std::printf("calculate sum_time_int\n");
  const int size = mod->len;
  if (size > MAX_SERIES_TERMS) {
    std::printf("Series of %d terms requested; at most %d are possible. Exit\n", size, MAX_SERIES_TERMS);
    std::exit(exit_status::invalid_model);
  }
  std::array<double, MAX_SERIES_TERMS> u;
  for (int k = 0; k < size; ++k) u[k] = mod->zeroes[k] * x;
  gsl_sf_bessel_sequence_Jnu_e(mod->l, GSL_PREC_DOUBLE, size, u.data());

  double total = 0.0;
  for (int k = 0; k < size; ++k) total += calc_time_int_i(t, k, mod) * u[k];
  return total;
}
