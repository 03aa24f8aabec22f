// The viscous torque F(x, t): the initial torque propagated by the Green's function,
// plus the outer-supply terms of modes 1 and 2.
#pragma once

struct gmodel;

double F_x_t(double x, double t, gmodel* mod);

// GSL callback: F_x_t(xi^(0.5/l), t, mod), p -> my_Green_params2.
double F_xi_t(double xi, void* p);

// GSL integrand over the source point x1; p -> my_Green_params (x1 field = field point x).
double integrant(double x1, void* p);
