// The 28-line model header, byte for byte, for a record whose values are known.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/gmodel.h"
#include "output/model_header.h"
#include "support/test_support.h"

namespace {

TEST(ModelHeader, TwentyEightLinesByteForByte) {
  testing_support::reset_globals();
  gmodel mod{};
  mod.l = 0.4;
  mod.mass = 2e34;
  mod.mdisk = 1e25;
  mod.mdot_out = 0.0;
  mod.r_out_disk = 1e11;
  mod.r_out_vis = 1e11;
  mod.r_ign_in = 1e7;
  mod.r_ign_out = 1e11;
  mod.r_mass_out = 1e11;
  mod.r_mass_in = 1e7;
  mod.init_disk_part = 1.0;
  mod.sigma_index = -1.0;
  mod.texp = 2592000.0;
  mod.nu0 = 2.0;
  mod.len = 50;
  mod.a = 1.0;
  mod.kappa = 3.5e-3;
  mod.flag_green = 0;
  mod.flag_outer = 1;
  r_inner_dotM = 1.25e-4;

  testing_support::TempDir dir;
  const auto p = dir / "header.txt";
  FILE* f = std::fopen(p.c_str(), "w");
  write_model(f, &mod);
  std::fclose(f);

  // b = 2 - 0.5/0.4 = 0.75; nu at r_out = (1e11)^0.75 * 2 = 2 * 10^8.25 = 3.5566e8; texp 30 days.
  const std::string expected =
      "#l=4.000000e-01\n#b=7.500000e-01\n#mass=2.000000e+34\n#mdisk=1.000000e+25\n#mdot_out=0.000000e+00\n"
      "#r_out_disk=1.000000e+11\n#r_out_vis=1.000000e+11\n#r_ign_in=1.000000e+07\n#r_ign_out=1.000000e+11\n"
      "#r_mass_out=1.000000e+11\n#r_mass_in=1.000000e+07\n#init_disk_part=1.000000e+00\n"
      "#sigma_index=-1.000000e+00\n#texp(days)=3.000000e+01\n#texp(s)=2.592000e+06\n#nu0=2.000000e+00\n"
      "#nu_t_out=3.556559e+08\n#len_Bessel=50\n#a=1.000000e+00\n#kappa=3.500000e-03\n#texp=2.592000e+06\n"
      "#flag_green=0\n#flag_outer=1\n#PRECISION=1.000000e-03\n#NUM_COOR=99\n#MINX=1.000000e-03\n"
      "#ACCUX=1.000000e-04\n#r_inner_dotM=1.250000e-04\n";
  EXPECT_EQ(testing_support::read_file(p), expected);
}

}  // namespace
