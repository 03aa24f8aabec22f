// Adaptive quadrature helpers: one place for the rule, limits and tolerances.
//
// GSL's qag refuses epsabs = 0 together with epsrel < 50 DBL_EPSILON; our
// PRECISION (1e-3) is far above that. Status codes are left to GSL's error
// handler, which the program installs at start-up.
#include "numerics/quadrature.h"

#include <algorithm>
#include <cmath>

#include <gsl/gsl_errno.h>

#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/gsl_owners.h"

namespace {

workspace_owner new_workspace() {
  return workspace_owner(gsl_integration_workspace_alloc(INTEGRATION_LIMIT));
}

int gap_count = 0;
int gap_status = 0;
bool forced_failures = false;

// The integrand as GSL sees it in a deferred call: its own GSL errors
// (nested integrals) still stop the run.
double undeferred_integrand(double x, void* p) {
  undeferred_gsl_errors keep_handling;
  const auto* f = static_cast<const gsl_function*>(p);
  return GSL_FN_EVAL(f, x);
}

// Runs one GSL call with its failure returned as a status, not a stop.
template <class Call>
int returned_status(Call call) {
  if (gsl_error_handler_installed()) {
    deferred_gsl_errors quiet;
    return call();
  }
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  const int status = call();
  gsl_set_error_handler(previous);
  return status;
}

}  // namespace

double integrate_qag(const gsl_function* f, double a, double b, double* abserr) {
  workspace_owner w = new_workspace();
  double result = 0.0;
  double error = 0.0;
  gsl_integration_qag(f, a, b, 0.0, PRECISION, INTEGRATION_LIMIT, INTEGRATION_KEY, w.get(), &result, &error);
  if (abserr != nullptr) *abserr = error;
  return result;
}

double integrate_qags(const gsl_function* f, double a, double b, double* abserr) {
  workspace_owner w = new_workspace();
  double result = 0.0;
  double error = 0.0;
  gsl_integration_qags(f, a, b, 0.0, PRECISION, INTEGRATION_LIMIT, w.get(), &result, &error);
  if (abserr != nullptr) *abserr = error;
  return result;
}

int integrate_qag_to(const gsl_function* f, double a, double b, double epsabs, double epsrel, int key,
                     double* result, double* abserr) {
  workspace_owner w = new_workspace();
  if (gsl_error_handler_installed()) {
    // Per thread: the helper thread may be integrating at the same time.
    deferred_gsl_errors quiet;
    return gsl_integration_qag(f, a, b, epsabs, epsrel, INTEGRATION_LIMIT, key, w.get(), result, abserr);
  }
  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  const int status = gsl_integration_qag(f, a, b, epsabs, epsrel, INTEGRATION_LIMIT, key, w.get(), result, abserr);
  gsl_set_error_handler(previous);
  return status;
}

rescued_integral integrate_qag_rescued(const gsl_function* f, double a, double b, std::vector<double> breaks,
                                       const std::function<double()>& noise_floor) {
  gsl_function guarded;
  guarded.function = &undeferred_integrand;
  guarded.params = const_cast<gsl_function*>(f);
  workspace_owner w = new_workspace();
  rescued_integral out;
  double error = 0.0;
  int status = GSL_EMAXITER;
  if (!forced_failures) {
    status = returned_status([&] {
      return gsl_integration_qag(&guarded, a, b, 0.0, PRECISION, FIRST_ATTEMPT_LIMIT, INTEGRATION_KEY, w.get(),
                                 &out.value, &error);
    });
  }
  if (status == GSL_SUCCESS) return out;

  out.retried = true;
  std::vector<double> points{a};
  std::sort(breaks.begin(), breaks.end());
  for (double p : breaks) {
    if (p > points.back() && p < b) points.push_back(p);
  }
  points.push_back(b);
  const double floor = noise_floor();
  if (!forced_failures) {
    status = returned_status([&] {
      return gsl_integration_qagp(&guarded, points.data(), points.size(), std::isfinite(floor) ? floor : 0.0,
                                  PRECISION, INTEGRATION_LIMIT, w.get(), &out.value, &error);
    });
  }
  if (status == GSL_SUCCESS) return out;
  out.value = NAN;
  out.status = status;
  ++gap_count;
  gap_status = status;
  return out;
}

int quadrature_gap_count() { return gap_count; }

int last_quadrature_gap_status() { return gap_status; }

void force_quadrature_failures(bool on) { forced_failures = on; }

const char* quadrature_failure_reason(int status) {
  switch (status) {
    case GSL_EMAXITER:
      return "maximum number of subdivisions reached";
    case GSL_EROUND:
      return "roundoff error prevents tolerance from being achieved";
    case GSL_ESING:
      return "bad integrand behavior found in the integration interval";
    default:
      return gsl_strerror(status);
  }
}
