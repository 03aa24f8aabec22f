// Plausibility warnings: each unit slip of a new user is named with the
// keyword, the value and the value in the unit meant; a sound disc (and a
// disc the model refuses) gets none.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "exact/disc_model.h"
#include "exact/plausibility.h"

namespace {

using velmora::disc_parameters;

// An X-ray nova: 10 solar masses, 1e25 g, 1e11 cm, 30 days.
disc_parameters nova() {
  disc_parameters p;
  p.mass = 1.989e34;
  p.mdisk = 1e25;
  p.r_out_disk = 1e11;
  p.l = 0.4;
  p.r_ign_in = 1e-4;
  p.r_ign_out = 1;
  p.sigma_index = -1;
  p.texp = 30;
  p.flag_outer = 1;
  p.mdot_out = 1e17;
  return p;
}

struct slip {
  const char* label;
  void (*change)(disc_parameters&);
  const char* warning;  // the whole text: keyword, value, and the value meant (by hand: 1 Msun = 1.989e33 g,
                        // 1 km = 1e5 cm, 1 day = 86400 s, 1 Msun/yr = 1.989e33 g / 3.15576e7 s = 6.3028e25 g/s)
};

class UnitSlip : public ::testing::TestWithParam<slip> {};

TEST_P(UnitSlip, IsNamedWithTheValueMeant) {
  disc_parameters p = nova();
  GetParam().change(p);
  const std::vector<std::string> w = velmora::plausibility_warnings(p);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, UnitSlip,
    ::testing::Values(
        slip{"SolarMasses", [](disc_parameters& p) { p.mass = 10; },
             "mass = 10 g is below 1e+30 g: solar masses? 10 solar masses is 1.989e+34 g"},
        slip{"DiscInSolarMasses", [](disc_parameters& p) { p.mdisk = 1e-8; },
             "mdisk = 1e-08 g is below 1e+10 g: solar masses? 1e-08 solar masses is 1.989e+25 g"},
        slip{"Kilometres", [](disc_parameters& p) { p.r_out_disk = 1e6; },
             "r_out_disk = 1e+06 cm is below 1e+08 cm: km? 1e+06 km is 1e+11 cm"},
        slip{"IgnitionZoneInCm", [](disc_parameters& p) { p.r_ign_out = 1e11; },
             "r_ign_out = 1e+11 r_out_disk is beyond the disc's edge (1 r_out_disk): cm? 1e+11 cm is 1 r_out_disk"},
        slip{"Seconds", [](disc_parameters& p) { p.texp = 2.592e6; },
             "texp = 2.592e+06 days is above 10000 days: seconds? 2.592e+06 s is 30 days"},
        slip{"SolarMassesPerYear", [](disc_parameters& p) { p.mdot_out = 1e-8; },
             "mdot_out = 1e-08 g/s is below 100000 g/s: solar masses per year? 1e-08 solar masses per year is "
             "6.303e+17 g/s"}),
    [](const ::testing::TestParamInfo<slip>& info) { return std::string(info.param.label); });

// Zero disc mass and zero supply are models of their own; mdot_out outside
// mode 1 is not used; values the model refuses are its checks' to name.
TEST(Plausibility, SoundOrRefusedValuesAreNotWarned) {
  EXPECT_TRUE(velmora::plausibility_warnings(nova()).empty());
  for (auto change : {+[](disc_parameters& p) { p.mdisk = 0; }, +[](disc_parameters& p) { p.mdot_out = 0; },
                      +[](disc_parameters& p) { p.flag_outer = 0, p.mdot_out = 1e-8; },
                      +[](disc_parameters& p) { p.mass = -10; }, +[](disc_parameters& p) { p.mass = NAN; },
                      +[](disc_parameters& p) { p.texp = INFINITY; }, +[](disc_parameters& p) { p.l = 99; }}) {
    disc_parameters p = nova();
    change(p);
    EXPECT_TRUE(velmora::plausibility_warnings(p).empty()) << velmora::plausibility_warnings(p)[0];
  }
}

// kappa given for texp: the texp it gives is the one the model derives, and
// the kappa suggested for 30 days gives 30 days to the model.
TEST(Plausibility, KappaIsJudgedByTheViscousTimeItGives) {
  disc_parameters p = nova();
  p.texp = 0;
  p.kappa = 1e-15;
  const double days = velmora::disc_model(p).texp_seconds() / 86400.0;
  ASSERT_GT(days, 1e4);
  const std::vector<std::string> w = velmora::plausibility_warnings(p);
  ASSERT_EQ(w.size(), 1u);
  char given[64];
  std::snprintf(given, sizeof given, "kappa = 1e-15 (cgs) gives texp = %g days", days);
  EXPECT_EQ(w[0].rfind(given, 0), 0u) << w[0];
  const std::size_t at = w[0].rfind("kappa ");
  p.kappa = std::stod(w[0].substr(at + 6));
  EXPECT_NEAR(velmora::disc_model(p).texp_seconds() / 86400.0, 30.0, 30.0 * 1e-5);  // %g: 6 digits of kappa
  EXPECT_TRUE(velmora::plausibility_warnings(p).empty());
}

}  // namespace
