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
