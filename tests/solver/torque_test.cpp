// Torque solution: the initial torque comes back at t -> 0, the xi form,
// the outer-boundary modes against each other and a steady state, the guard.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/integrand_records.h"
#include "solver/accretion_rate.h"
#include "solver/initial_torque.h"
#include "solver/torque.h"
#include "solver_fixture.h"
#include "tables/bessel_zeros.h"

using solver_testing::captured_stdout;
using solver_testing::make_model;
using testing_support::near_rel;

namespace {

struct recovery_case {
  const char* name;
  bool whole_disc;   // initial matter everywhere (smooth torque) or in [0.1, 0.6] r_out only
  double tolerance;
};

class InitialTorqueRecovered : public ::testing::TestWithParam<recovery_case> {};

// l = 0.5, Sigma ~ 1/r: the torque is F0 = c x. At t = 1e-6 texp the 50-term
// series is undamped (the last term by 1%), so F(x, t) is the truncated
// Fourier-Bessel expansion of F0, here a sine series in z_i = (i + 1/2) pi.
// Over the whole disc F0 is smooth and its coefficients fall as 1/z_i^2: the
// tail is ~1/(pi^2 N^2) = 4e-5, so the quadrature tolerance 1e-3 bounds the
// difference (measured 2e-6). With the ignition zone the torque jumps at
// x = 0.316 and 0.775; its coefficients fall as 1/z_i only, and at x = 0.5 the
// truncation error is ~1/(pi N d) of the jump, d = 0.18 the distance to the
// nearer edge: a few per mil (measured 4e-3), checked to 1e-2.
TEST_P(InitialTorqueRecovered, AtEarlyTimeInsideTheZone) {
  gmodel mod = make_model(0.5);
  if (GetParam().whole_disc) solver_testing::fill_whole_disc(&mod);
  double F = 0.0;
  captured_stdout([&] { F = F_x_t(0.5, 1e-6 * mod.texp, &mod); });
  EXPECT_TRUE(near_rel(F, F_initial(0.5, &mod), GetParam().tolerance));
}

INSTANTIATE_TEST_SUITE_P(Torque, InitialTorqueRecovered,
                         ::testing::Values(recovery_case{"WholeDisc", true, 1e-3},
                                           recovery_case{"IgnitionZone", false, 1e-2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Torque, XiFormIsTheSameEvaluation) {
  gmodel mod = make_model(0.4);
  solver_testing::fill_whole_disc(&mod);
  const double t = 1.5 * mod.texp, xi = 0.3;
  my_Green_params2 params{t, &mod};
  double by_xi = 0.0, by_x = 0.0;
  const std::string out_xi = captured_stdout([&] { by_xi = F_xi_t(xi, &params); });
  const std::string out_x = captured_stdout([&] { by_x = F_x_t(std::pow(xi, 1.25), t, &mod); });
  EXPECT_EQ(by_xi, by_x);
  EXPECT_EQ(out_xi, out_x);
  EXPECT_EQ(out_x, "\nCalculate F_x_t at x=0.222 t=1296000.0000\n");
  EXPECT_EQ(mod.flag_green, 1);
  EXPECT_EQ(mod.have_integral, 0);
}

// With mdot_out = 0 the supply profile and the source weight vanish: mode 1
// is mode 0 exactly, although it builds its table (five terms keep that cheap).
TEST(Torque, ConstantSupplyOfZeroIsNoSupply) {
  gmodel mod = make_model(0.5);
  mod.len = LATE_SERIES_TERMS;
  const double t = 0.5 * mod.texp;
  double F0 = 0.0, F1 = 0.0;
  captured_stdout([&] { F0 = F_x_t(0.45, t, &mod); });
  mod.flag_outer = 1;
  mod.mdot_out = 0.0;
  const std::string out = captured_stdout([&] { F1 = F_x_t(0.45, t, &mod); });
  EXPECT_EQ(F1, F0);
  EXPECT_EQ(solver_testing::count_of(out, "calculate  integral(x1) for the current x and t"), 1);
  EXPECT_EQ(mod.have_integral, 1);
}

constexpr double M0 = 1e17;  // g/s
double constant_rate(double) { return M0; }
double no_change(double) { return 0.0; }

// An empty disc fed at a constant rate settles to the steady state, in which
// the whole supplied rate reaches the centre. After 10 texp the transient is
// down to e^-10; the fit through five torques carries the quadrature
// tolerance 1e-3 and the 50-term truncation of the supply series (measured
// 6e-5 for l = 0.5). For l = 0.5 the coefficients have the closed form
// constl1[i] = sqrt(pi / (2 z_i)); for l = 0.4 they come from the tables.
class SteadySupply : public ::testing::TestWithParam<double> {};

TEST_P(SteadySupply, ReachesTheCentre) {
  gmodel mod = make_model(GetParam());
  if (mod.l == 0.5) {
    for (int i = 0; i < SERIES_LENGTH; ++i) mod.constl1[i] = std::sqrt(phys::pi / (2.0 * mod.zeroes[i]));
  } else {
    captured_stdout([&] { get_zeroes(SERIES_LENGTH, mod.l, mod.zeroes.data(), mod.constl1.data(), mod.constl2.data()); });
    solver_testing::derive_constants(&mod);
  }
  mod.mdisk = 0.0;
  mod.flag_outer = 2;
  mod.accr_out = constant_rate;
  mod.d_accr_out_d_t = no_change;
  double mdot = 0.0, err = 0.0;
  const std::string out = captured_stdout([&] { mdot = mdot_in_t1(10.0 * mod.texp, &err, &mod); });
  EXPECT_TRUE(near_rel(mdot, M0, 2e-3));
  EXPECT_EQ(solver_testing::count_of(out, "calculate sum_time_int\n"), 5);
}

INSTANTIATE_TEST_SUITE_P(Torque, SteadySupply, ::testing::Values(0.5, 0.4));

// A constant supply is the same physics in both supply modes: mode 1's source
// term, the weighted time integral of the Green's function, equals mode 2's
// series of mode integrals I_i (constl1 in closed form for l = 0.5). With five
// terms both sums hold the same modes; they differ by the quadrature tolerance
// 1e-3 of the integrals and the spline's interpolation of the table.
TEST(Torque, ConstantSupplyAgreesBetweenModes) {
  gmodel mod = make_model(0.5);
  mod.len = LATE_SERIES_TERMS;
  for (int i = 0; i < LATE_SERIES_TERMS; ++i) mod.constl1[i] = std::sqrt(phys::pi / (2.0 * mod.zeroes[i]));
  const double t = 0.5 * mod.texp;
  double F1 = 0.0, F2 = 0.0;
  mod.flag_outer = 1;
  mod.mdot_out = M0;
  captured_stdout([&] { F1 = F_x_t(0.45, t, &mod); });
  mod.flag_outer = 2;
  mod.accr_out = constant_rate;
  mod.d_accr_out_d_t = no_change;
  captured_stdout([&] { F2 = F_x_t(0.45, t, &mod); });
  EXPECT_TRUE(near_rel(F1, F2, 2e-3));
}

TEST(TorqueDeathTest, InvalidOuterModeStopsWithStatusThree) {
  gmodel mod = make_model(0.5);
  mod.flag_outer = 3;
  EXPECT_EXIT(
      {
        solver_testing::stdout_to_stderr();
        F_x_t(0.5, 864000.0, &mod);
      },
      ::testing::ExitedWithCode(3), "Calculate F_x_t at x=0.500 t=864000.0000\nInvalid event in F_x_t\\(\\). Exit\n$");
}

}  // namespace
