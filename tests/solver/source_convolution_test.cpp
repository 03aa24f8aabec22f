// Source time convolution: the time integral against its closed form for
// l = 0.5, the 50-point table, its spline and its cache flag.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "solver/source_convolution.h"
#include "solver_fixture.h"
#include "tables/mesh.h"

using solver_testing::captured_stdout;
using solver_testing::count_of;
using solver_testing::make_model;
using testing_support::near_rel;

namespace {

const std::string BUILD_LINE = "calculate  integral(x1) for the current x and t\n";
const std::string INTEGRAL_LINE = "\ncalculate integral_green_over_t\n";

// Five terms keep each table at 50 cheap integrals; the series is still exact
// in its own terms: for l = 0.5 the time integral of five terms is
// T = 2 sum_i sin(z_i x) sin(z_i x1) texp / (2i+1)^2 (1 - exp(-(2i+1)^2 t / texp)).
class SourceConvolution : public ::testing::Test {
 protected:
  void SetUp() override {
    mod.len = LATE_SERIES_TERMS;
    make_mesh(MINX * mod.a, mod.a, SOURCE_MESH_POINTS, MESH_LINEAR, xx.data());
  }
  double closed_form(double x, double x1, double t) const {
    double s = 0.0;
    for (int i = 0; i < LATE_SERIES_TERMS; ++i) {
      const double z = (i + 0.5) * phys::pi, k = (2.0 * i + 1.0) * (2.0 * i + 1.0);
      s += std::sin(z * x) * std::sin(z * x1) * mod.texp / k * (1.0 - std::exp(-k * t / mod.texp));
    }
    return 2.0 * s;
  }
  gmodel mod = make_model(0.5);
  std::array<double, SOURCE_MESH_POINTS> xx{};
};

// qags to the relative tolerance PRECISION.
TEST_F(SourceConvolution, TimeIntegralMatchesClosedFormAndScalesWithSource) {
  for (double t : {0.1 * mod.texp, 2.0 * mod.texp}) {
    double T = 0.0, T3 = 0.0;
    const std::string out = captured_stdout([&] {
      T = integral_green_over_t(0.6, 0.3, t, &mod, 1.0);
      T3 = integral_green_over_t(0.6, 0.3, t, &mod, 3.0);
    });
    EXPECT_EQ(out, INTEGRAL_LINE + INTEGRAL_LINE);
    EXPECT_TRUE(near_rel(T, closed_form(0.6, 0.3, t), PRECISION));
    EXPECT_TRUE(near_rel(T3, 3.0 * T, 1e-14));
  }
}

TEST_F(SourceConvolution, EmptyTimeGivesAZeroTable) {
  mod.have_integral = 0;
  double v = 1.0;
  captured_stdout([&] { v = get_value_integral_green_over_tau(0.5, 0.37, 0.0, &mod, 1.0); });
  EXPECT_EQ(v, 0.0);
  for (int j = 0; j < SOURCE_MESH_POINTS; ++j) EXPECT_EQ(mod.green_int_over_t_x[j], 0.0);
}

// The first request after a reset builds the table (one line, then one per
// integral), later requests interpolate it whatever their x and t; at a mesh
// point the spline returns the stored value; the table scales with source_val.
TEST_F(SourceConvolution, TableIsBuiltOncePerResetAndInterpolated) {
  const double t = 0.5 * mod.texp;
  mod.have_integral = 0;
  double first = 0.0;
  std::string out = captured_stdout([&] { first = get_value_integral_green_over_tau(0.6, 0.3, t, &mod, 1.0); });
  EXPECT_EQ(out, BUILD_LINE + [] { std::string s; for (int j = 0; j < SOURCE_MESH_POINTS; ++j) s += INTEGRAL_LINE; return s; }());
  EXPECT_EQ(mod.have_integral, 1);
  EXPECT_TRUE(near_rel(first, closed_form(0.6, 0.3, t), 1e-3));
  const std::array<double, NUM_COOR> table = mod.green_int_over_t_x;
  captured_stdout([&] { EXPECT_EQ(mod.green_int_over_t_x[17], integral_green_over_t(0.6, xx[17], t, &mod, 1.0)); });

  out = captured_stdout([&] {
    for (int j : {0, 17, SOURCE_MESH_POINTS - 1})
      EXPECT_TRUE(near_rel(get_value_integral_green_over_tau(0.1, xx[j], 3.0 * t, &mod, 7.0), table[j], 1e-12)) << j;
    EXPECT_EQ(get_value_integral_green_over_tau(0.9, 0.3, 0.1 * t, &mod, 1.0), first);
  });
  EXPECT_EQ(out, "");

  mod.have_integral = 0;
  out = captured_stdout([&] { get_value_integral_green_over_tau(0.6, 0.3, t, &mod, 2.0); });
  EXPECT_EQ(count_of(out, BUILD_LINE), 1);
  EXPECT_EQ(count_of(out, INTEGRAL_LINE), SOURCE_MESH_POINTS);
  for (int j = 0; j < SOURCE_MESH_POINTS; ++j) EXPECT_TRUE(near_rel(mod.green_int_over_t_x[j], 2.0 * table[j], 1e-14)) << j;
}

}  // namespace
