// GSL errors: stopped by the program's handler unless deferred on the
// current thread, where they become a recorded failure; guards nest.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>

#include "numerics/gsl_errors.h"
#include "numerics/quadrature.h"
#include "support/test_support.h"

using testing_support::run_forked;

namespace {

// Out-of-order arguments: the sequence routine refuses them with an error.
int failing_call() {
  double v[2] = {2.0, 1.0};
  return gsl_sf_bessel_sequence_Jnu_e(0.4, GSL_PREC_DOUBLE, 2, v);
}

TEST(DeferredGslErrors, RecordInsteadOfStoppingAndNest) {
  const auto r = run_forked([] {
    install_gsl_error_handler();
    {
      deferred_gsl_errors outer;
      std::printf("outer clean %d\n", outer.failed() ? 0 : 1);
      {
        deferred_gsl_errors inner;
        const int status = failing_call();
        std::printf("status %d inner failed %d\n", status != GSL_SUCCESS, inner.failed() ? 1 : 0);
      }
      std::printf("outer still clean %d\n", outer.failed() ? 0 : 1);
      failing_call();
      std::printf("outer failed %d\n", outer.failed() ? 1 : 0);
    }
    std::printf("guards gone\n");
    failing_call();
    std::printf("not reached\n");
  });
  EXPECT_EQ(r.status, 4) << r.output;
  EXPECT_NE(r.output.find("outer clean 1\nstatus 1 inner failed 1\nouter still clean 1\nouter failed 1\nguards gone\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("not reached"), std::string::npos);
}

// A tolerance that cannot be met is a status of integrate_qag_to, with the
// handler installed or not, and the handler stops the run again afterwards.
double spike(double x, void*) { return 1.0 / std::sqrt(std::fabs(x - 0.3)); }

TEST(DeferredGslErrors, UnreachableToleranceIsAStatus) {
  const auto r = run_forked([] {
    gsl_function f;
    f.function = &spike;
    f.params = nullptr;
    double v = 0.0, e = 0.0;
    std::printf("without handler %d\n", integrate_qag_to(&f, 0.0, 1.0, 0.0, 1e-14, 1, &v, &e) != GSL_SUCCESS);
    install_gsl_error_handler();
    std::printf("with handler %d\n", integrate_qag_to(&f, 0.0, 1.0, 0.0, 1e-14, 1, &v, &e) != GSL_SUCCESS);
    failing_call();
    std::printf("not reached\n");
  });
  EXPECT_EQ(r.status, 4) << r.output;
  EXPECT_NE(r.output.find("without handler 1\nwith handler 1\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("not reached"), std::string::npos);
}

}  // namespace
