// Green's function of the viscous diffusion equation for the torque.
#pragma once

struct gmodel;

// Response at field point x after time t (s) to a unit initial torque at
// source point x1. With flag_green == 2 the xi-derivative at x instead.
double Green_x_x1_t(double x, double t, double x1, gmodel* mod);

// GSL callback: Green_x_x1_t(xi^(0.5/l), t, x1, mod), p -> my_Green_params.
double mod_Green_xi_x1_t(double xi, void* p);

// dG/dxi at xi = x^(2l) by a numerical difference; error estimate to *abserr.
double numeric_mdot_Green_x_x1_t(double x, double t, double x1, gmodel* mod, double* abserr);

// True when the series at source point x1 can be evaluated at every time:
// both series lengths are possible and no Bessel argument z_i x1 is 0. Work
// handed to the helper thread must not meet the run's fatal stops, which
// belong to the solver's own order.
bool green_series_defined(double x1, const gmodel* mod);
