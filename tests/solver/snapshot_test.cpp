// Torque snapshot file: name, header, the 39-byte legend and seven columns.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <string>

#include "solver/snapshot.h"
#include "solver/torque.h"
#include "solver_fixture.h"
#include "tables/mesh.h"

using solver_testing::captured_stdout;
using solver_testing::make_model;
using solver_testing::printed;

namespace {

double constant_rate(double) { return 1e17; }
double no_change(double) { return 0.0; }

// An empty disc fed at a constant rate past texp: every torque is a short
// integral, so the 99 points of a snapshot stay cheap, and F is not zero.
TEST(Snapshot, FileFormat) {
  testing_support::TempDir dir;
  const auto old_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());

  gmodel mod = make_model(0.5);
  mod.mdisk = 0.0;
  mod.flag_outer = 2;
  mod.accr_out = constant_rate;
  mod.d_accr_out_d_t = no_change;
  for (int i = 0; i < SERIES_LENGTH; ++i) mod.constl1[i] = std::sqrt(phys::pi / (2.0 * mod.zeroes[i]));
  for (int j = 0; j < NUM_COOR; ++j) mod.zero_interp[j] = 1e30 * (j + 1);
  const double t = 2.0 * mod.texp;

  const std::string head = solver_testing::header_text(&mod);  // the record as save_F_t finds it
  const std::string out = captured_stdout([&] { save_F_t(t, &mod, "F_x12.dat"); });
  EXPECT_EQ(out.rfind("\nsave_F_t begins\nSave F(x,t) distribution to F_x12.dat\n", 0), 0u);
  EXPECT_EQ(solver_testing::count_of(out, "\nCalculate F_x_t at x="), NUM_COOR);

  const std::string legend = "#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0\n#7=t\n";
  const auto rows = solver_testing::rows_after(testing_support::read_file(dir / "F_x12.dat"),
                                               head + legend);
  std::array<double, NUM_COOR> x{};
  make_mesh(MINX, 1.0, NUM_COOR, MESH_LINEAR, x.data());
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(NUM_COOR));
  for (int j = 0; j < NUM_COOR; ++j) {
    const auto& f = rows[j];
    ASSERT_EQ(f.size(), 7u) << j;
    EXPECT_EQ(f[0], std::to_string(j));
    EXPECT_EQ(f[1], printed(x[j]));
    EXPECT_EQ(f[2], printed(mod.r_out_vis * std::pow(x[j], 2.0)));
    EXPECT_EQ(f[3], printed(hout_of(&mod) * x[j]));
    EXPECT_EQ(f[5], printed(mod.zero_interp[j]));
    EXPECT_EQ(f[6], printed(t));
  }
  for (int j : {0, 60}) captured_stdout([&] { EXPECT_EQ(rows[j][4], printed(F_x_t(x[j], t, &mod))); });
  std::filesystem::current_path(old_dir);
}

}  // namespace
