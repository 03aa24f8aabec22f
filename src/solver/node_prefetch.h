// Bessel rows computed ahead of the solver, on the helper thread.
//
// GSL's qag applies the 15-point Gauss-Kronrod rule to [a, b] at
// c = (a+b)/2 and c -/+ h x_k, h = (b-a)/2, and bisects an interval at
// (a+b)/2 into a left and a right half, which it then evaluates in that
// order. So when the torque integrand meets the centre of a left half, the
// right half's fifteen source points are certain to follow: the helper
// computes their rows while the solver does the left half. The nodes are
// computed with the rule's own expressions, so they are the very doubles
// the solver will ask for. Nothing happens without the helper thread.
#pragma once

struct gmodel;

// A radial integral of the torque over [a, b] begins, at the field point x
// and time t (which fix the series length).
void begin_radial_prefetch(double a, double b, double x, double t, const gmodel* mod);

// The torque integrand is evaluated at the source point x1.
void radial_node_seen(double x1);

// Rows of field points the solver will need soon (the fit's abscissae, the
// points of a profile), given in the order it will need them; the helper
// takes them from the last one back.
void prefetch_field_rows(const double* x, int count, double t, const gmodel* mod);
