// Adaptive quadrature helpers: one place for the rule, limits and tolerances.
//
// GSL's qag refuses epsabs = 0 together with epsrel < 50 DBL_EPSILON; our
// PRECISION (1e-3) is far above that. Status codes are left to GSL's error
// handler, which the program installs at start-up.
#include "numerics/quadrature.h"

#include <gsl/gsl_errno.h>

#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/gsl_owners.h"

namespace {

workspace_owner new_workspace() {
  return workspace_owner(gsl_integration_workspace_alloc(INTEGRATION_LIMIT));
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
