// Response to a constant outer source (flag_outer 1): the Green's function
// integrated over the time the source has acted,
//
//   T(x, x1, t) = int_0^t source_val * G(x, t - tau, x1) dtau,
//
// by GSL's extrapolating adaptive rule (qags): near tau = t the elapsed time
// goes to 0 and the full series is summed, where the integrand is steep.
//
// During one radial integral of the torque, x and t are fixed and only the
// source point x1 varies. So the first request after have_integral was
// cleared computes T at the 50 points of a linear x1 mesh from MINX a to a,
// keeps them in green_int_over_t_x and sets have_integral; every request
// answers from a natural cubic spline through those 50 values. Callers clear
// the flag at the start of every radial integral (the torque and the accretion
// rate), which is what makes the x, t and source_val of later requests
// irrelevant until then. The mesh is a std::array on the stack: no allocation,
// so the fatal stop for a failed allocation (err_m(1)) cannot occur here. The
// spline and its accelerator are owned for the length of one request; GSL
// reports a failure to allocate them through its error handler.
#include "solver/source_convolution.h"

#include <array>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>

#include <gsl/gsl_math.h>
#include <gsl/gsl_spline.h>

#include "model/gmodel.h"
#include "model/integrand_records.h"
#include "model/settings.h"
#include "numerics/gsl_owners.h"
#include "numerics/helper_thread.h"
#include "numerics/quadrature.h"
#include "solver/green.h"
#include "tables/mesh.h"

namespace {

using source_mesh = std::array<double, SOURCE_MESH_POINTS>;
static_assert(SOURCE_MESH_POINTS <= NUM_COOR, "the time-integral table lives in green_int_over_t_x");

source_mesh build_source_mesh(const gmodel* mod) {
  source_mesh xx{};
  make_mesh(MINX * mod->a, mod->a, SOURCE_MESH_POINTS, MESH_LINEAR, xx.data());
  return xx;
}

}  // namespace

double integrant_green_over_t(double tau, void* p) {
  const auto* params = static_cast<const my_Green_params1*>(p);
  return Green_x_x1_t(params->x, params->t - tau, params->x1, params->mod) * params->source_val;
}

namespace {

double time_integral_of_green(double x, double x1, double t, gmodel* mod, double source_val) {
  my_Green_params1 params{t, x1, x, mod, source_val};
  gsl_function F;
  F.function = &integrant_green_over_t;
  F.params = &params;
  return integrate_qags(&F, 0.0, t);
}

// The table of one radial integral. With the helper thread on, it takes
// every other mesh point, on its own copy of the model; the messages are
// printed here, in mesh order, and a point the helper could not compute is
// computed here, so the console and the values are those of the serial run.
void fill_time_integral_table(double x, double t, gmodel* mod, double source_val, const source_mesh& xx) {
  std::array<std::future<std::optional<double>>, SOURCE_MESH_POINTS> shared;
  bool share = helper_available();
  for (int j = 0; share && j < SOURCE_MESH_POINTS; ++j) share = green_series_defined(xx[j], mod);
  if (share) {
    auto copy = std::make_shared<gmodel>(*mod);
    for (int j = 1; j < SOURCE_MESH_POINTS; j += 2) {
      const double x1 = xx[j];
      shared[j] = post_shared(
          [copy, x, x1, t, source_val] { return time_integral_of_green(x, x1, t, copy.get(), source_val); });
    }
  }
  for (int j = 0; j < SOURCE_MESH_POINTS; ++j) {
    std::printf("\ncalculate integral_green_over_t\n");
    std::optional<double> value;
    if (shared[j].valid()) value = shared[j].get();
    mod->green_int_over_t_x[j] = value ? *value : time_integral_of_green(x, xx[j], t, mod, source_val);
  }
}

}  // namespace

double integral_green_over_t(double x, double x1, double t, gmodel* mod, double source_val) {
  std::printf("\ncalculate integral_green_over_t\n");
  return time_integral_of_green(x, x1, t, mod, source_val);
}

double get_value_integral_green_over_tau(double x, double x1, double t, gmodel* mod, double source_val) {
  if (mod->have_integral == 0) {
    std::printf("calculate  integral(x1) for the current x and t\n");
    fill_time_integral_table(x, t, mod, source_val, build_source_mesh(mod));
    mod->have_integral = 1;
  }

  const source_mesh xx = build_source_mesh(mod);
  accel_owner acc(gsl_interp_accel_alloc());
  spline_owner spline(gsl_spline_alloc(gsl_interp_cspline, SOURCE_MESH_POINTS));
  gsl_spline_init(spline.get(), xx.data(), mod->green_int_over_t_x.data(), SOURCE_MESH_POINTS);
  return gsl_spline_eval(spline.get(), x1, acc.get());
}
