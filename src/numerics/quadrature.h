// Adaptive quadrature with the settings every integral of velmora uses.
//
// Each call owns a fresh workspace of INTEGRATION_LIMIT intervals for its own
// duration (integrals nest: a radial integral's integrand may run time
// integrals), absolute tolerance 0, relative tolerance PRECISION. Only the
// value is returned; the error estimate goes to *abserr when asked for.
#pragma once

#include <gsl/gsl_integration.h>

// gsl_integration_qag with the 15-point Gauss-Kronrod rule over [a, b].
double integrate_qag(const gsl_function* f, double a, double b, double* abserr = nullptr);

// gsl_integration_qags (extrapolating rule) over [a, b].
double integrate_qags(const gsl_function* f, double a, double b, double* abserr = nullptr);

// gsl_integration_qag over [a, b] with the caller's tolerances and rule, for
// integrals wanted far below PRECISION. GSL's error handler is off for the
// call, so a tolerance that cannot be met is a returned status, not a stop.
int integrate_qag_to(const gsl_function* f, double a, double b, double epsabs, double epsrel, int key,
                     double* result, double* abserr);
