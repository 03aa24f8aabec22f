// The inner accretion rate and the torque read straight off the truncated
// Bessel series of the Green's function (the fast path).
#pragma once

#include <array>

#include <gsl/gsl_math.h>

#include "model/settings.h"

struct gmodel;

// What the series rate needs of one model, independent of time: for the
// first `terms` modes (max(len, LATE_SERIES_TERMS)) the projections
//   int_{MINX a}^{a} f(x1) x1^(1-l) J_l(z_i x1) dx1
// of the initial torque, of the supply-profile shape x1^(4l) and of the
// source-weight shape x1^(4l-2), and the centre slopes of the modes.
struct series_projections {
  int terms;
  std::array<double, MAX_SERIES_TERMS> initial;        // P_i of the initial torque
  std::array<double, MAX_SERIES_TERMS> profile_shape;  // of x1^(4l)
  std::array<double, MAX_SERIES_TERMS> weight_shape;   // of x1^(4l-2)
  std::array<double, MAX_SERIES_TERMS> centre;         // (z_i/2)^l / Gamma(l+1): x^l J_l(z_i x) / xi at xi -> 0
  std::array<double, MAX_SERIES_TERMS> slope;          // centre[i] / J_l(z_i a)^2
  std::array<double, MAX_SERIES_TERMS> inverse_norm;   // 1 / J_l(z_i a)^2
  bool converged;      // every projection met its tolerance
  double worst_error;  // largest error estimate of a projection over int |f| x1^(1-l) dx1
};

// The projections with `initial_torque` (a function of x1; its params are its
// own) in place of the model's initial torque. Always computed afresh.
void compute_series_projections(gmodel* mod, const gsl_function* initial_torque, series_projections* out);

// The projections of the model's own initial torque F_initial, computed on
// the first call for a model and kept until a call with other model values.
const series_projections& model_series_projections(gmodel* mod);

// Inner accretion rate (g/s) at time t (s) of the truncated series, from
// the given projections, in the model's outer-boundary mode.
double series_mdot_in(double t, gmodel* mod, const series_projections& proj);


// Torque F(x, t) of the truncated series from the projections of the model's
// initial torque, in the model's outer-boundary mode: what the radial
// integral of the torque solution gives, without its quadrature error.
double series_torque(double x, double t, gmodel* mod);
