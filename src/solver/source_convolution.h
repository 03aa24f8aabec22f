// Time integral of the Green's function for a constant outer source, cached per radial integral.
#pragma once

struct gmodel;

// GSL callback over tau; p -> my_Green_params1.
double integrant_green_over_t(double tau, void* p);

// T(x, x1, t) = integral over [0, t] of source_val * G(x, t - tau, x1), always afresh.
double integral_green_over_t(double x, double x1, double t, gmodel* mod, double source_val);

// T(x, x1, t) interpolated from the 50-point table, which is built when have_integral == 0.
double get_value_integral_green_over_tau(double x, double x1, double t, gmodel* mod, double source_val);
