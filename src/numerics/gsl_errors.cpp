// GSL error handler and run context; see gsl_errors.h.
#include "numerics/gsl_errors.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gsl/gsl_errno.h>

#include "output/fatal.h"

namespace {

const char* context_operation = "start-up";
double context_time = NAN;

bool handler_installed = false;
thread_local bool deferring = false;
thread_local bool deferred_failure = false;

void stop_on_gsl_error(const char* reason, const char* file, int line, int gsl_errno) {
  if (deferring) {
    deferred_failure = true;
    return;
  }
  std::fflush(stdout);
  console_error_begins();
  if (std::isnan(context_time))
    std::printf("\nGSL error %d (%s) in %s:%d: %s; during %s\n", gsl_errno, gsl_strerror(gsl_errno), file, line,
                reason, context_operation);
  else
    std::printf("\nGSL error %d (%s) in %s:%d: %s; during %s at t=%e s\n", gsl_errno, gsl_strerror(gsl_errno), file,
                line, reason, context_operation, context_time);
  std::exit(exit_status::numerical_library);
}

}  // namespace

void install_gsl_error_handler() {
  gsl_set_error_handler(&stop_on_gsl_error);
  handler_installed = true;
}

bool gsl_error_handler_installed() { return handler_installed; }

void set_run_context(const char* operation, double time) {
  context_operation = operation;
  context_time = time;
}

deferred_gsl_errors::deferred_gsl_errors() : outer_deferring_(deferring), outer_failure_(deferred_failure) {
  deferring = true;
  deferred_failure = false;
}

deferred_gsl_errors::~deferred_gsl_errors() {
  deferring = outer_deferring_;
  deferred_failure = outer_failure_;
}

bool deferred_gsl_errors::failed() const { return deferred_failure; }

undeferred_gsl_errors::undeferred_gsl_errors() : outer_deferring_(deferring) { deferring = false; }

undeferred_gsl_errors::~undeferred_gsl_errors() { deferring = outer_deferring_; }
