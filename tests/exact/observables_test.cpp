// The observables' blackbody against quadrature and closed forms, and the
// light curves' independence of the thread and of the order of the times.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include <gsl/gsl_integration.h>

#include "exact/disc_model.h"
#include "exact/errors.h"
#include "exact/observables.h"
#include "support/test_support.h"

namespace {

using testing_support::near_rel;

// int u^3 / (e^u - 1) du by GSL's adaptive quadrature (x2 may be infinite).
double planck_by_quadrature(double x1, double x2) {
  gsl_integration_workspace* w = gsl_integration_workspace_alloc(1000);
  gsl_function f;
  f.function = [](double u, void*) { return u == 0.0 ? 0.0 : u * u * u * std::exp(-u) / -std::expm1(-u); };
  f.params = nullptr;
  double value = 0.0, error = 0.0;
  if (std::isinf(x2)) gsl_integration_qagiu(&f, x1, 0.0, 1e-13, 1000, w, &value, &error);
  else gsl_integration_qag(&f, x1, x2, 0.0, 1e-13, 1000, GSL_INTEG_GAUSS61, w, &value, &error);
  gsl_integration_workspace_free(w);
  return value;
}

TEST(PlanckBand, AgreesWithQuadratureFromRayleighJeansToWien) {
  const double inf = std::numeric_limits<double>::infinity();
  struct band { double x1, x2; };
  // Both sides of the switch between the two series at x = 2, bands across
  // it, deep in either tail, and the whole spectrum.
  for (const band b : {band{0.0, inf}, band{1e-3, 0.5}, band{0.3, 1.999}, band{1.999, 2.001}, band{1.5, 7.0},
                       band{2.0, 2.5}, band{2.001, 30.0}, band{5.0, inf}, band{45.0, 160.0}, band{300.0, 310.0}})
    EXPECT_TRUE(near_rel(velmora::planck_band_integral(b.x1, b.x2), planck_by_quadrature(b.x1, b.x2), 1e-12))
        << b.x1 << " " << b.x2;
  EXPECT_TRUE(near_rel(velmora::planck_band_integral(0.0, inf), std::pow(M_PI, 4) / 15.0, 1e-15));
  // Far in the Rayleigh-Jeans tail: x^3/3 - x^4/8 + x^5/60, the series' first terms.
  const double x = 1e-4;
  EXPECT_TRUE(near_rel(velmora::planck_band_integral(0.0, x), x * x * x / 3 - x * x * x * x / 8 + std::pow(x, 5) / 60, 1e-15));
  EXPECT_EQ(velmora::planck_band_integral(3.0, 3.0), 0.0);
}

velmora::disc_parameters decaying_disc() {
  velmora::disc_parameters p;
  p.mass = 1.4e34;
  p.mdisk = 2e24;
  p.r_out_disk = 6e10;
  p.l = 0.55;
  p.r_ign_in = 0.2;
  p.r_ign_out = 0.9;
  p.texp = 20.0;
  return p;
}

TEST(Observables, LightCurvesDoNotDependOnTheThreadOrTheOrderOfTimes) {
  const velmora::disc_model m(decaying_disc());
  std::vector<double> t;
  for (int j = 0; j < 40; ++j) t.push_back(m.texp_seconds() * 0.1 * std::pow(1.08, j));
  const std::vector<double> reversed(t.rbegin(), t.rend());
  const velmora::viewing view{3e22, 50.0};
  const velmora::surface surface{1.7, 1e-3};
  std::vector<double> serial(t.size()), backwards(t.size()), a(t.size()), b(t.size());
  velmora::band_flux(m, t.data(), t.size(), 2.0, 10.0, view, surface, {}, serial.data());
  velmora::band_flux(m, reversed.data(), reversed.size(), 2.0, 10.0, view, surface, {}, backwards.data());
  std::thread one([&] { velmora::band_flux(m, t.data(), t.size(), 2.0, 10.0, view, surface, {}, a.data()); });
  std::thread two([&] { velmora::band_flux(m, t.data(), t.size(), 2.0, 10.0, view, surface, {}, b.data()); });
  one.join();
  two.join();
  for (std::size_t j = 0; j < t.size(); ++j) {
    EXPECT_EQ(a[j], serial[j]);
    EXPECT_EQ(b[j], serial[j]);
    // The torque's interpolation is sized per epoch: alone or with others, the same to its 1e-11.
    EXPECT_TRUE(near_rel(backwards[t.size() - 1 - j], serial[j], 1e-9)) << j;
  }
}

TEST(Observables, ADiscInsideTheMarginallyStableOrbitIsRefusedByName) {
  velmora::disc_parameters p = decaying_disc();
  p.r_out_disk = 1e6;  // below 6 G M / c^2 = 6.2e6 cm
  const velmora::disc_model m(p);
  const double t = m.texp_seconds();
  double out = 0.0;
  try {
    velmora::bolometric_flux(m, &t, 1, {1e22, 0.0}, &out);
    FAIL() << "no refusal";
  } catch (const velmora::invalid_parameter& e) {
    EXPECT_EQ(e.parameter(), "r_out_disk");
  }
}

}  // namespace
