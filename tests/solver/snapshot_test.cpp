// Torque snapshot file: name, header, the 39-byte legend and seven columns.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "output/model_header.h"
#include "solver/snapshot.h"
#include "solver/torque.h"
#include "solver_fixture.h"
#include "tables/mesh.h"

using solver_testing::captured_stdout;
using solver_testing::make_model;

namespace {

double constant_rate(double) { return 1e17; }
double no_change(double) { return 0.0; }

std::string printed(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%e", v);
  return s;
}

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

  const std::string out = captured_stdout([&] { save_F_t(t, &mod, 12); });
  EXPECT_EQ(out.rfind("\nsave_F_t begins\nSave F(x,t) distribution to F_x12.dat\n", 0), 0u);
  EXPECT_EQ(solver_testing::count_of(out, "\nCalculate F_x_t at x="), NUM_COOR);

  FILE* f = std::tmpfile();
  write_model(f, &mod);
  std::string head(static_cast<std::size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  ASSERT_EQ(std::fread(head.data(), 1, head.size(), f), head.size());
  std::fclose(f);

  const std::string text = testing_support::read_file(dir / "F_x12.dat");
  const std::string legend = "#1=j\n#2=x[j]\n#3=r\n#4=h\n#5=F\n#6=F0\n#7=t\n";
  ASSERT_EQ(text.compare(0, head.size(), head), 0);
  ASSERT_EQ(text.compare(head.size(), legend.size(), legend), 0);

  std::array<double, NUM_COOR> x{};
  make_mesh(MINX, 1.0, NUM_COOR, MESH_LINEAR, x.data());
  std::istringstream lines(text.substr(head.size() + legend.size()));
  std::string line;
  int j = 0;
  for (; std::getline(lines, line); ++j) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string s; std::getline(in, s, '\t');) fields.push_back(s);
    ASSERT_EQ(fields.size(), 7u) << line;
    EXPECT_EQ(fields[0], std::to_string(j));
    EXPECT_EQ(fields[1], printed(x[j]));
    EXPECT_EQ(fields[2], printed(mod.r_out_vis * std::pow(x[j], 2.0)));
    EXPECT_EQ(fields[3], printed(hout_of(&mod) * x[j]));
    EXPECT_EQ(fields[5], printed(mod.zero_interp[j]));
    EXPECT_EQ(fields[6], printed(t));
    if (j == 0 || j == 60) {
      captured_stdout([&] { EXPECT_EQ(fields[4], printed(F_x_t(x[j], t, &mod))); });
    }
  }
  EXPECT_EQ(j, NUM_COOR);
  std::filesystem::current_path(old_dir);
}

}  // namespace
