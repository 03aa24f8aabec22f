// RAII owners of GSL objects: each frees its object on every path.
#pragma once

#include <memory>

#include <gsl/gsl_integration.h>
#include <gsl/gsl_spline.h>

struct gsl_workspace_free_t {
  void operator()(gsl_integration_workspace* w) const { gsl_integration_workspace_free(w); }
};
struct gsl_spline_free_t {
  void operator()(gsl_spline* s) const { gsl_spline_free(s); }
};
struct gsl_accel_free_t {
  void operator()(gsl_interp_accel* a) const { gsl_interp_accel_free(a); }
};

using workspace_owner = std::unique_ptr<gsl_integration_workspace, gsl_workspace_free_t>;
using spline_owner = std::unique_ptr<gsl_spline, gsl_spline_free_t>;
using accel_owner = std::unique_ptr<gsl_interp_accel, gsl_accel_free_t>;
