// Parameter records handed to the integrands through GSL's void* pointer.
// The caller fills every field before the integration; integrands only read.
#pragma once

struct gmodel;

// Torque integral over the source point (x1 carries the field point x there),
// and the numerical xi-derivative of the Green's function (x1 = source point).
struct my_Green_params {
  double t;     // time, s
  double x1;    // the fixed radius of the integrand
  gmodel* mod;
};

// Time integral of the Green's function for a constant outer source.
struct my_Green_params1 {
  double t;           // time, s: upper limit of the time integral
  double x1;          // source point
  double x;           // field point
  gmodel* mod;
  double source_val;  // source strength factor
};

// Torque as a function of xi.
struct my_Green_params2 {
  double t;     // time, s
  gmodel* mod;
};

// Time integral of one mode of the outer-supply series.
struct my_Green_params4 {
  double t;     // time, s: upper limit of the time integral
  int i;        // index of the series term
  gmodel* mod;
};
