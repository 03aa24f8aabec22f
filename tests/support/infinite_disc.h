// The centre rate of a disc without an outer edge, by adaptive quadrature: an
// independent reference for the exact solution at early times, before the
// outer edge's reflection reaches the centre.
//
// The initial torque f0 = (mdisk/texp) norm x^p on [x_in, x_out] is
// integrated against the centre's Green's function of the disc without an
// edge, x^(2l) exp(-x^2/c) / (c^l (c/2) Gamma(l+1)) with the weight x^(1-2l),
// c = 4 t / z_0^2 (t in texp). No modes and no incomplete gamma functions.
#pragma once

#include <algorithm>
#include <cmath>

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_gamma.h>

#include "exact/bessel_modes.h"
#include "exact/disc_model.h"

namespace testing_support {

struct green_integrand_data {
  double p, c, log_scale;
};

// x^(p+1) exp(-x^2/c), scaled by exp(-log_scale) to stay a normal number.
inline double green_integrand(double x, void* data) {
  const auto* d = static_cast<const green_integrand_data*>(data);
  return std::exp((d->p + 1.0) * std::log(x) - x * x / d->c - d->log_scale);
}

// The rate in g/s at tau (texp) of a model whose viscous time is texp_s seconds.
inline double infinite_disc_rate(const velmora::disc_parameters& p, double texp_s, double tau) {
  const double l = p.l;
  const double z0 = velmora::bessel_zeros(l, 1)[0];
  const double idx = 2.0 + p.sigma_index;
  const double norm = 8.0 * l * l * idx / (z0 * z0 * (1.0 - std::pow(p.r_ign_in, idx)));
  const double x_in = std::pow(p.r_ign_in, 0.25 / l), x_out = std::pow(std::min(1.0, p.r_ign_out), 0.25 / l);
  const double power = 4.0 * l * idx + 2.0 * l - 2.0;
  const double c = 4.0 * tau / (z0 * z0);
  // The integrand's largest value on [x_in, x_out] sets the scale.
  const double peak_x = std::clamp(std::sqrt(std::max(0.0, 0.5 * (power + 1.0) * c)), x_in, x_out);
  green_integrand_data d{power, c, (power + 1.0) * std::log(peak_x) - peak_x * peak_x / c};
  gsl_function F{&green_integrand, &d};
  gsl_integration_workspace* w = gsl_integration_workspace_alloc(2000);
  double integral = 0.0, error = 0.0;
  gsl_integration_qag(&F, x_in, x_out, 0.0, 1e-13, 2000, GSL_INTEG_GAUSS61, w, &integral, &error);
  gsl_integration_workspace_free(w);
  const double log_green = -l * std::log(c) - std::log(0.5 * c) - gsl_sf_lngamma(l + 1.0);
  return p.mdisk / texp_s * norm * integral * std::exp(d.log_scale + log_green);
}

}  // namespace testing_support
