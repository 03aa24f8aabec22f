// Bessel-series response of the torque to a time-dependent outer supply.
#pragma once

struct gmodel;

// GSL callback over tau; p -> my_Green_params4.
double integrant_tii(double tau, void* p);

// I_i(t): time integral of mode i over the supply history [0, t].
double calc_time_int_i(double t, int i, gmodel* mod);

// I_i(t) for i < len, computed once per time (the five torques of a fit and
// the series rate share them); valid until the next call.
const double* mode_time_integrals(double t, gmodel* mod);

// S(x, t) = sum_i J_l(z_i x) I_i(t).
double sum_time_int(double x, double t, gmodel* mod);
