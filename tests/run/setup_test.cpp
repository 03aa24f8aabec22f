// The set-up of a model: derived constants, time scaling, evaluation radius,
// and the refusal of models that cannot be evaluated.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/gmodel.h"
#include "model/settings.h"
#include "run/driver.h"
#include "run/run_supply.h"
#include "support/test_support.h"

using testing_support::near_rel;

namespace {

constexpr double SOLAR_MASS = 1.989e33;  // g

// Rounding of a few chained pow/sqrt operations on values of order one.
constexpr double ROUNDING = 1e-14;

class ModelSetUp : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::reset_globals();
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  }

  // Writes the entries into a parameter file, runs the set-up on a fresh record, returns the console text.
  std::string set_up(const std::string& entries) {
    const auto par = dir / "model.par";
    testing_support::write_file(par, entries);
    std::snprintf(filename.data(), filename.size(), "%s", par.c_str());
    mod = gmodel{};
    testing::internal::CaptureStdout();
    set_up_model(&mod);
    return testing::internal::GetCapturedStdout();
  }

  static std::string base_model() {
    return "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
           "0 # sigma_index\n";
  }

  testing_support::TempDir dir;
  gmodel mod{};
};

TEST_F(ModelSetUp, ViscousTimeGivenInDaysFixesNu0AndKappa) {
  const std::string out = set_up(base_model() + "10 # texp\n123 # kappa\n0.1 # MIN_TIME\n10 # MAX_TIME\n");
  EXPECT_EQ(mod.texp, 864000.0);
  EXPECT_EQ(MIN_TIME, 0.1 * 864000.0);
  EXPECT_EQ(MAX_TIME, 10 * 864000.0);
  EXPECT_EQ(mod.len, SERIES_LENGTH);
  EXPECT_EQ(mod.a, 1.0);
  EXPECT_EQ(mod.init_disk_part, 1.0);
  EXPECT_EQ(mod.r_out_vis, 1e11);
  EXPECT_EQ(mod.r_mass_out, 1e11);
  EXPECT_EQ(mod.r_mass_in, mod.r_ign_in);

  // The first Bessel mode decays as exp(-(z0/kappa)^2 hout^(-1/l) t): e-folding time texp.
  const double hout = std::sqrt(phys::G * mod.mass * mod.r_out_vis);
  const double decay = std::pow(mod.zeroes[0] / mod.kappa, 2) * std::pow(hout, -1.0 / mod.l);
  EXPECT_TRUE(near_rel(decay * mod.texp, 1.0, ROUNDING));
  // nu(r_out) = nu0 r_out^b and texp = (l/z0)^2 (16/3) r_out^2 / nu(r_out).
  const double b = 2.0 - 0.5 / mod.l;
  const double nu_out = mod.nu0 * std::pow(mod.r_out_disk, b);
  EXPECT_TRUE(near_rel(std::pow(mod.l / mod.zeroes[0], 2) * 16.0 / 3.0 * 1e22 / nu_out, mod.texp, ROUNDING));

  EXPECT_NE(out.find("Press return to start calculation\n"), std::string::npos);
  EXPECT_EQ(mod.accr_out, nullptr);
}

TEST_F(ModelSetUp, KappaBranchGivesBackTheGivenKappa) {
  const std::string out = set_up(base_model() + "0 # texp\n2.5e-3 # kappa\n");
  EXPECT_TRUE(near_rel(mod.kappa, 2.5e-3, ROUNDING));
  EXPECT_GT(mod.texp, 0.0);
  // The zero table is requested twice in this branch.
  size_t count = 0;
  for (size_t pos = out.find("Begin get_zeroes()"); pos != std::string::npos;
       pos = out.find("Begin get_zeroes()", pos + 1))
    ++count;
  EXPECT_EQ(count, 2u);
}

// The supply law goes into the model record in mode 2 only; the run's supply
// history is built in every mode, the built-in law with the law's own pieces.
TEST_F(ModelSetUp, SupplyLawInstalledOnlyForModeTwo) {
  set_up(base_model() + "30 # texp\n2 # flag_outer\n");
  ASSERT_NE(mod.accr_out, nullptr);
  ASSERT_NE(mod.d_accr_out_d_t, nullptr);
  EXPECT_EQ(mod.accr_out(0.0), 1e18);
  EXPECT_EQ(run_supply().pieces().size(), 3u);
  EXPECT_EQ(run_supply().rate(0.0), 1e18);
  set_up(base_model() + "30 # texp\n1 # flag_outer\n2.5e17 # mdot_out\n");
  EXPECT_EQ(mod.accr_out, nullptr);
  EXPECT_EQ(run_supply().rate(100 * 86400.0), 2.5e17);
  set_up(base_model() + "30 # texp\n");
  EXPECT_EQ(run_supply().rate(0.0), 0.0);

  testing_support::write_file(dir / "t.txt", "0 1e16\n1 3e16\n");
  const std::string table = (dir / "t.txt").string();
  const std::string out = set_up(base_model() + "30 # texp\n2 # flag_outer\n" + table + " # supply_file\n");
  EXPECT_EQ(run_supply().rows(), 2u);
  EXPECT_EQ(mod.accr_out(0.5 * 86400.0), 2e16);
  EXPECT_EQ(mod.d_accr_out_d_t(0.5 * 86400.0), 2e16 / 86400.0);
  EXPECT_NE(out.find("Supply at the outer edge from the table " + table + ": 2 rows\n"), std::string::npos);
}

// The innermost mesh radius MINX^(4l) r_out against the marginally stable orbit 6 G M / c^2.
TEST_F(ModelSetUp, EvaluationRadiusAtAndBelowTheMarginallyStableOrbit) {
  const double mass = 10 * SOLAR_MASS;
  const double rms = mass * phys::six_G / phys::c_light / phys::c_light;
  const double l = 0.4;
  const double p = std::pow(MINX, 4 * l);
  double r_out = rms / p;
  for (int k = 0; k < 64 && p * r_out != rms; ++k) r_out = std::nextafter(r_out, p * r_out < rms ? INFINITY : 0.0);
  ASSERT_EQ(p * r_out, rms) << "no radius found whose innermost mesh radius is exactly r_ms";

  char entries[512];
  std::snprintf(entries, sizeof entries, "%.17g # mass\n%.17g # r_out_disk\n0.4 # l\n1e-3 # r_ign_in\n1 # r_ign_out\n30 # texp\n",
                mass, r_out);
  const std::string out = set_up(entries);
  EXPECT_EQ(r_inner_dotM, rms * EVALUATION_RADIUS_MARGIN / r_out);

  const double below = std::nextafter(r_out, 0.0);
  std::snprintf(entries, sizeof entries, "%.17g # mass\n%.17g # r_out_disk\n0.4 # l\n1e-3 # r_ign_in\n1 # r_ign_out\n30 # texp\n",
                mass, below);
  set_up(entries);
  ASSERT_LT(p * below, rms);
  EXPECT_EQ(r_inner_dotM, rms / below);

  char line[128];
  std::snprintf(line, sizeof line, "Radius of the marginally stable orbit is %.5e cm\n", rms);
  EXPECT_NE(out.find(line), std::string::npos);
}

// Models the solver cannot evaluate are refused with status 3 before anything is computed.
struct Refusal {
  const char* label;
  const char* entries;  // appended to a valid model; later entries win
  const char* message;  // a regular expression the console line must match
};

class Refused : public ModelSetUp, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, WithStatusThreeAndAMessageNamingTheKeyword) {
  const Refusal& r = GetParam();
  const auto par = dir / "model.par";
  testing_support::write_file(par, base_model() + "30 # texp\n0.5 # MIN_TIME\n2 # MAX_TIME\n3 # NUM_TIME\n" +
                                       r.entries);
  const testing_support::RunResult run = testing_support::run_velmora(dir.path(), "model.par");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(run.output, r.message)) << run.output;
  EXPECT_EQ(run.output.find("Press return"), std::string::npos) << run.output;
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.path() != par;
  EXPECT_EQ(files, 0u) << "a refused model must leave no data file";
}

INSTANTIATE_TEST_SUITE_P(
    Models, Refused,
    ::testing::Values(Refusal{"ModeThree", "3 # flag_outer\n", "flag_outer = 3"},
                      Refusal{"ModeNegative", "-1 # flag_outer\n", "flag_outer = -1"},
                      // The order is checked before its zeros are computed (status 3, not the table's 255).
                      Refusal{"OrderBelowRange", "0.05 # l\n2 # flag_outer\n",
                              "^Invalid model: l = 0.050000000000000003 must lie in \\[0.1, 10\\]"},
                      Refusal{"OrderAboveRange", "10.000000000000002 # l\n", "l = 10.000000000000002 must lie in \\[0.1, 10\\]"},
                      Refusal{"OrderMinusOneThird", "-0.3333333333333333 # l\n", "l = -0.33333333333333331 must lie in"},
                      Refusal{"OrderNaN", "nan # l\n", "l = nan must lie in"},
                      Refusal{"OrderInfinite", "inf # l\n", "l = inf must lie in"},
                      Refusal{"ZeroMass", "0 # mass\n", "mass = 0 "},
                      Refusal{"NegativeRadius", "-1e11 # r_out_disk\n", "r_out_disk = -100000000000 "},
                      Refusal{"NoViscousTime", "0 # texp\n0 # kappa\n", "kappa = 0 must be finite and positive when texp is 0"},
                      Refusal{"ZeroMinTime", "0 # MIN_TIME\n", "MIN_TIME = 0 "},
                      Refusal{"InfiniteMaxTime", "inf # MAX_TIME\n", "MAX_TIME = inf"},
                      Refusal{"MaxTimeOverflowsInSeconds", "1e306 # MAX_TIME\n",
                              "MAX_TIME = 1e\\+306 texp is out of range in seconds"},
                      Refusal{"SingleTimeOverflowsInSeconds", "1e306 # MIN_TIME\n1 # NUM_TIME\n",
                              "MIN_TIME = 1e\\+306 texp is out of range in seconds"},
                      Refusal{"DensityIndexMinusTwo", "-2 # sigma_index\n", "cannot be normalised"},
                      Refusal{"RingStartingAtTheEdge", "1 # r_ign_in\n", "r_ign_in = 1 must be below 1"},
                      Refusal{"OverflowingInitialTorque", "1e308 # mdisk\n",
                              "Invalid model: mdisk = 1e\\+308 is out of range: the initial torque would reach 10\\^"},
                      Refusal{"NegativeDiscMass", "-1e24 # mdisk\n", "mdisk = -9.99\\S* must be finite and not negative"},
                      Refusal{"NoOuterEdgeOfTheMatter", "nan # r_ign_out\n", "r_ign_out = nan must be finite"},
                      Refusal{"EmptyIgnitionZone", "0.5 # r_ign_in\n0.4 # r_ign_out\n", "r_ign_out = 0.4\\S* must be finite and above"},
                      Refusal{"InfiniteSupplyRate", "1 # flag_outer\ninf # mdot_out\n", "mdot_out = inf must be finite"},
                      Refusal{"NegativeSingleTime", "-1 # MIN_TIME\n1 # NUM_TIME\n", "MIN_TIME = -1 must be finite and positive"},
                      Refusal{"NameReachingOutOfTheFolder", "/../../x # name\n",
                              "name = /../../x contains '/': a run writes its files only into the current folder"},
                      Refusal{"NameWithAControlCharacter", "ab\x1b[2J # name\n",
                              "name holds the control character 0x1b at position 3"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });

// The record packs its tables side by side: one index past zeroes is
// constl1[0], inside the record, where AddressSanitizer sees nothing. The
// sanitizer build checks the index itself.
TEST(ModelRecordDeathTest, IndexPastATableStopsTheSanitizerBuild) {
#if defined(__SANITIZE_ADDRESS__)
  gmodel mod{};
  volatile std::size_t past = MAX_SERIES_TERMS;
  EXPECT_DEATH(mod.zeroes[past] = 1.0, "size\\(\\)");
#else
  GTEST_SKIP() << "indices are checked in the sanitizer build only";
#endif
}

}  // namespace
