// Mass accretion rate at the inner edge of the disc, g/s.
#pragma once

struct gmodel;

// 2 pi / hout times the slope of a least-squares line through the origin of
// the torque at xi = 0.05 .. 0.13. *abserr_mdot receives the standard error
// of that slope times 2 pi / hout.
double mdot_in_t1(double t, double* abserr_mdot, gmodel* mod);

// The rate from the xi-derivative of the Green's function inside the torque
// integral, at the evaluation radius r_inner_dotM; error estimate to *abserr_mdot.
double mdot_in_t(double t, double* abserr_mdot, gmodel* mod);
