// Initial state: density normalisation, the torque it implies, the
// ignition-zone cut and the initial-profile file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include <gsl/gsl_integration.h>

#include "solver/initial_torque.h"
#include "solver_fixture.h"
#include "tables/mesh.h"

using solver_testing::make_model;
using testing_support::near_rel;

namespace {

double enclosed_mass(gmodel* mod) {
  gsl_integration_workspace* w = gsl_integration_workspace_alloc(100);
  gsl_function F{[](double r, void* p) { return 2.0 * phys::pi * r * sigma_init_r(r, static_cast<gmodel*>(p)); }, mod};
  double m = 0.0, err = 0.0;
  gsl_integration_qag(&F, mod->r_mass_in, mod->r_mass_out, 0.0, 1e-12, 100, GSL_INTEG_GAUSS61, w, &m, &err);
  gsl_integration_workspace_free(w);
  return m;
}

class InitialTorque : public ::testing::TestWithParam<double> {};

// The density integrates to the disc mass for any index (qag to 1e-12).
TEST_P(InitialTorque, DensityIntegratesToDiscMass) {
  gmodel mod = make_model(0.4);
  mod.sigma_index = GetParam();
  EXPECT_TRUE(near_rel(enclosed_mass(&mod), mod.mdisk, 1e-10));
}

// F = (3/2) nu Sigma h with nu = nu0 r^(2 - 0.5/l): the kappa form agrees to rounding.
TEST_P(InitialTorque, TorqueIsThreeHalvesNuSigmaH) {
  gmodel mod = make_model(0.4);
  mod.sigma_index = GetParam();
  std::array<double, 3> x{0.3, 0.7, 0.9};
  std::array<double, 3> F{};
  calc_F_init(&mod, 3, F.data(), x.data());
  for (int j = 0; j < 3; ++j) {
    const double r = mod.r_out_vis * std::pow(x[j], 1.6);
    const double nu = mod.nu0 * std::pow(r, 2.0 - 0.5 / mod.l);
    EXPECT_TRUE(near_rel(F[j], 1.5 * nu * sigma_init_r(r, &mod) * std::sqrt(phys::G * mod.mass * r), 1e-12));
  }
}

INSTANTIATE_TEST_SUITE_P(SigmaIndex, InitialTorque, ::testing::Values(-1.0, 0.0, 0.7));

TEST(InitialDensity, IndexZeroIsUniform) {
  gmodel mod = make_model(0.5);
  mod.sigma_index = 0.0;
  const double R1 = mod.r_mass_in, R2 = mod.r_mass_out;
  for (double r : {R1, 0.37 * R2, R2})
    EXPECT_TRUE(near_rel(sigma_init_r(r, &mod), mod.mdisk / (phys::pi * (R2 * R2 - R1 * R1)), 1e-14));
}

// Both bounds of the ignition zone belong to it; a point 1e-12 outside does not.
TEST(IgnitionZone, CutAtTheExactBounds) {
  gmodel mod = make_model(0.4);
  const double x_in = 0.2, x_out = 0.75;
  mod.r_ign_in = mod.r_out_vis * std::pow(x_in, 4.0 * mod.l);
  mod.r_ign_out = mod.r_out_vis * std::pow(x_out, 4.0 * mod.l);
  EXPECT_GT(F_initial(x_in, &mod), 0.0);
  EXPECT_GT(F_initial(x_out, &mod), 0.0);
  EXPECT_EQ(F_initial(x_in * (1.0 - 1e-12), &mod), 0.0);
  EXPECT_EQ(F_initial(x_out * (1.0 + 1e-12), &mod), 0.0);
  double x = 0.5, F = 0.0;
  calc_F_init(&mod, 1, &F, &x);
  EXPECT_EQ(F_initial(0.5, &mod), F);
}

class InitialProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::reset_globals();
    old_dir = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(old_dir); }
  testing_support::TempDir dir;
  std::filesystem::path old_dir;
};

// Header, the 55-byte legend, 99 lines of six fields; column 6 is the profile
// held before the call; zero_interp is filled afterwards, cut to the zone.
// The accumulated mesh ends just above 1, so with the zone reaching the disc
// radius the last entry lies outside it.
TEST_F(InitialProfileFile, FormatAndStoredProfile) {
  gmodel mod = make_model(0.4);
  mod.r_ign_in = 1e-20;
  mod.r_ign_out = mod.r_out_vis;
  mod.zero_interp.fill(0.0);
  const std::string head = solver_testing::header_text(&mod);
  const std::string out = solver_testing::captured_stdout([&] { set_initial_F(&mod, "F_x_ring1.dat"); });
  EXPECT_EQ(out,
            "Begin set_initial_F ()\n\nsave initial F begins\nSave F(x,t) distribution to F_x_ring1.dat\n");

  const std::string legend = "#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0 (shifted on x!)\n#7=t\n";
  const auto rows = solver_testing::rows_after(testing_support::read_file(dir / "F_x_ring1.dat"),
                                               head + legend);
  std::array<double, NUM_COOR> x{};
  make_mesh(MINX, 1.0, NUM_COOR, MESH_LINEAR, x.data());
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(NUM_COOR));
  for (int j = 0; j < NUM_COOR; ++j) {
    const auto& f = rows[j];
    ASSERT_EQ(f.size(), 6u) << j;
    EXPECT_EQ(f[0], std::to_string(j));
    EXPECT_EQ(f[1], solver_testing::printed(x[j]));
    EXPECT_EQ(f[2], solver_testing::printed(mod.r_out_vis * std::pow(x[j], 1.6)));
    EXPECT_EQ(f[3], solver_testing::printed(hout_of(&mod) * std::pow(x[j], 0.8)));
    EXPECT_EQ(f[4], solver_testing::printed(mod.zero_interp[j]));
    EXPECT_EQ(f[5], "0.000000e+00");
  }
  ASSERT_GT(x[NUM_COOR - 1], 1.0);
  EXPECT_EQ(mod.zero_interp[NUM_COOR - 1], 0.0);
  for (int k = 0; k < NUM_COOR - 1; ++k) EXPECT_EQ(mod.zero_interp[k], F_initial(x[k], &mod)) << k;
  EXPECT_GT(mod.zero_interp[0], 0.0);
}

// A run name that makes the file name 600 characters or more reaches the
// open whole and is refused there, not cut to a name that fits.
TEST_F(InitialProfileFile, OverlongNameIsRefusedWhole) {
  const std::string run_name(NAME_CAPACITY - 8, 'n');
  gmodel mod = make_model(0.5);
  EXPECT_EXIT(
      {
        solver_testing::stdout_to_stderr();
        set_initial_F(&mod, "F_x_" + run_name + ".dat");
      },
      ::testing::ExitedWithCode(100), "File name is too long: F_x_" + run_name + "\\.dat");
}

}  // namespace
