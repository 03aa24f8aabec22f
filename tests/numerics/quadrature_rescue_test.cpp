// integrate_qag_rescued: the first attempt is integrate_qag's (same bits),
// a retry only after GSL gave up, a gap (NaN, counted) only when both fail,
// and the integrand's own GSL errors still stop the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>

#include "numerics/gsl_errors.h"
#include "numerics/quadrature.h"
#include "support/test_support.h"

using testing_support::run_forked;

namespace {

double smooth(double x, void*) { return std::exp(-x) * std::cos(3.0 * x); }

// Deterministic noise of amplitude 1e-13 around 0, no two neighbouring
// abscissae correlated: what a series cancelling to its last digits looks
// like to an adaptive rule. Its integral is 0 to within the amplitude.
double noise(double x, void*) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof x);
  bits ^= bits >> 33;
  bits *= 0xff51afd7ed558ccdULL;
  bits ^= bits >> 33;
  return 1e-13 * (static_cast<double>(bits % 2000001) / 1e6 - 1.0);
}

gsl_function function_of(double (*f)(double, void*)) {
  gsl_function g;
  g.function = f;
  g.params = nullptr;
  return g;
}

TEST(RescuedIntegral, ConvergingIntegralGivesIntegrateQagsBits) {
  const gsl_function f = function_of(&smooth);
  const rescued_integral r = integrate_qag_rescued(&f, 0.0, 2.0, {1.0}, [] { return 0.0; });
  EXPECT_FALSE(r.retried);
  EXPECT_EQ(r.status, 0);
  const double plain = integrate_qag(&f, 0.0, 2.0);
  EXPECT_EQ(std::memcmp(&r.value, &plain, sizeof plain), 0);
  // int_0^2 e^-x cos 3x dx = [e^-x (3 sin 3x - cos 3x)/10]_0^2, to PRECISION.
  const double exact = (std::exp(-2.0) * (3.0 * std::sin(6.0) - std::cos(6.0)) + 1.0) / 10.0;
  EXPECT_NEAR(r.value, exact, 1e-3 * std::fabs(exact));
}

TEST(RescuedIntegral, NoiseIsRetriedToTheFloorOrIsAGap) {
  const gsl_function f = function_of(&noise);
  const int gaps = quadrature_gap_count();
  bool floor_asked = false;
  const rescued_integral floored = integrate_qag_rescued(&f, 0.0, 1.0, {0.5}, [&] {
    floor_asked = true;
    return 1e-11;
  });
  EXPECT_TRUE(floor_asked);
  EXPECT_TRUE(floored.retried);
  EXPECT_EQ(floored.status, 0);
  EXPECT_LE(std::fabs(floored.value), 1e-11);  // the integral is 0 to within the noise
  EXPECT_EQ(quadrature_gap_count(), gaps);

  const rescued_integral gap = integrate_qag_rescued(&f, 0.0, 1.0, {0.5}, [] { return 0.0; });
  EXPECT_TRUE(std::isnan(gap.value));
  EXPECT_NE(gap.status, 0);
  EXPECT_EQ(gap.status, last_quadrature_gap_status());
  EXPECT_EQ(quadrature_gap_count(), gaps + 1);
}

TEST(RescuedIntegral, ForcedFailureIsAGapWithoutIntegrating) {
  const gsl_function f = function_of(&smooth);
  const int gaps = quadrature_gap_count();
  force_quadrature_failures(true);
  const rescued_integral r = integrate_qag_rescued(&f, 0.0, 2.0, {}, [] { return 0.0; });
  force_quadrature_failures(false);
  EXPECT_TRUE(std::isnan(r.value));
  EXPECT_EQ(r.status, GSL_EMAXITER);
  EXPECT_EQ(quadrature_gap_count(), gaps + 1);
  EXPECT_FALSE(std::isnan(integrate_qag_rescued(&f, 0.0, 2.0, {}, [] { return 0.0; }).value));
}

// An integrand whose own GSL call fails (out-of-order Bessel arguments).
double failing_integrand(double x, void*) {
  double v[2] = {2.0, 1.0};
  gsl_sf_bessel_sequence_Jnu_e(0.4, GSL_PREC_DOUBLE, 2, v);
  return x;
}

TEST(RescuedIntegral, IntegrandErrorsStillStopTheRun) {
  const auto r = run_forked([] {
    install_gsl_error_handler();
    const gsl_function f = function_of(&failing_integrand);
    integrate_qag_rescued(&f, 0.0, 1.0, {}, [] { return 0.0; });
    std::printf("not stopped\n");
  });
  EXPECT_EQ(r.status, 4) << r.output;
  EXPECT_EQ(r.output.find("not stopped"), std::string::npos);
}

}  // namespace
