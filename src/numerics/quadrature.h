// Adaptive quadrature with the settings every integral of velmora uses.
//
// Each call owns a fresh workspace of INTEGRATION_LIMIT intervals for its own
// duration (integrals nest: a radial integral's integrand may run time
// integrals), absolute tolerance 0, relative tolerance PRECISION. Only the
// value is returned; the error estimate goes to *abserr when asked for.
#pragma once

#include <gsl/gsl_integration.h>

#include <cstddef>
#include <functional>
#include <vector>

// gsl_integration_qag with the 15-point Gauss-Kronrod rule over [a, b].
double integrate_qag(const gsl_function* f, double a, double b, double* abserr = nullptr);

// gsl_integration_qags (extrapolating rule) over [a, b].
double integrate_qags(const gsl_function* f, double a, double b, double* abserr = nullptr);

// gsl_integration_qag over [a, b] with the caller's tolerances and rule, for
// integrals wanted far below PRECISION. GSL's error handler is off for the
// call, so a tolerance that cannot be met is a returned status, not a stop.
int integrate_qag_to(const gsl_function* f, double a, double b, double epsabs, double epsrel, int key,
                     double* result, double* abserr);

// An integral allowed to give up without ending the run: the torque's radial
// integral, one cell of the rate file or of a torque profile.
//
// The first attempt is integrate_qag's own (same rule, tolerances and
// workspace), with its subdivisions capped at FIRST_ATTEMPT_LIMIT: GSL's
// bisections do not depend on the cap, so an integral that converges within
// it returns the same bits as before. Only when GSL gives up (too many
// subdivisions, roundoff, a bad integrand) is the integral retried, with
// GSL's qagp over the same range split at `breaks` (points where the
// integrand has a kink, a jump or a narrow peak; those outside (a, b) are
// dropped), relative tolerance PRECISION, the full workspace, and an
// absolute tolerance of noise_floor() (computed only then): below it the
// integrand cannot be evaluated to its own digits and a relative tolerance
// is out of reach. When the retry fails too, the value is NaN, the gap is
// counted and its GSL status kept. GSL errors of the integrand itself
// (nested integrals) keep the run's handling.
struct rescued_integral {
  double value = 0.0;
  int status = 0;        // 0 when a value was found, else GSL's code of the retry
  bool retried = false;  // the first attempt gave up
};

// Subdivisions of the first attempt: about twice the most any model of the
// benchmarks and examples needs (27); smooth integrands need a few.
constexpr std::size_t FIRST_ATTEMPT_LIMIT = 50;

rescued_integral integrate_qag_rescued(const gsl_function* f, double a, double b, std::vector<double> breaks,
                                       const std::function<double()>& noise_floor);

// Gaps (integrals that gave up twice) so far in this process, and GSL's code
// of the last one.
int quadrature_gap_count();
int last_quadrature_gap_status();

// Why an adaptive integral gave up, in the words of GSL's integration
// routines, from its status ("GSL error 11" reads "maximum number of
// subdivisions reached").
const char* quadrature_failure_reason(int status);

// Test hook: while on, every attempt of integrate_qag_rescued reports GSL's
// "maximum number of subdivisions reached" without integrating.
void force_quadrature_failures(bool on);
