// The helper thread changes nothing a user can see: with VELMORA_THREADS=2
// every data file and the console text are those of the serial run, byte
// for byte, in each outer-boundary mode and with profiles. A setting that
// is not a thread count is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

using testing_support::read_file;
using testing_support::run_in;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// A ring of matter between 0.3 and 0.6 of the disc radius: its edges make
// the radial integrals bisect deeply, which is where the helper works.
const std::string RING =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n0.3 # r_ign_in\n0.6 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n0.4 # MIN_TIME\n2 # MAX_TIME\n2 # NUM_TIME\n1 # save\n1e17 # mdot_out\n"
    "ring # name\n";

std::vector<std::string> files_in(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

testing_support::RunResult run_with_threads(const TempDir& dir, const std::string& threads) {
  return run_in(dir.path(), "VELMORA_THREADS=" + threads + " '" + VELMORA_BINARY + "' model.par");
}

struct Outer {
  const char* label;
  const char* entries;  // the outer boundary; a supply table t.txt is beside the model
};

class ThreadedRun : public ::testing::TestWithParam<Outer> {};

TEST_P(ThreadedRun, WritesTheSerialRunsBytes) {
  const std::string model = RING + GetParam().entries;
  TempDir serial, threaded;
  for (const TempDir* dir : {&serial, &threaded}) {
    write_file(*dir / "model.par", model);
    write_file(*dir / "t.txt", "0 1e16\n2 1e16\n5 8e17\n45 1e16\n");
  }
  const auto a = run_with_threads(serial, "1");
  const auto b = run_with_threads(threaded, "2");
  ASSERT_EQ(a.status, 0) << a.output;
  ASSERT_EQ(b.status, 0) << b.output;
  EXPECT_TRUE(a.output == b.output) << "the console text differs";
  const auto names = files_in(serial.path());
  ASSERT_EQ(names, files_in(threaded.path()));
  EXPECT_GE(names.size(), 6u);  // parameters, table, rate, initial profile, two snapshots
  for (const auto& name : names) EXPECT_TRUE(read_file(serial / name) == read_file(threaded / name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Modes, ThreadedRun,
                         ::testing::Values(Outer{"flag_outer0", "0 # flag_outer\n"},
                                           Outer{"flag_outer1", "1 # flag_outer\n"},
                                           Outer{"flag_outer2", "2 # flag_outer\n"},
                                           Outer{"SupplyTable", "2 # flag_outer\nt.txt # supply_file\n"}),
                         [](const ::testing::TestParamInfo<Outer>& info) { return std::string(info.param.label); });

// fast takes the torque from the series of the projections, which the helper shares.
TEST(ThreadedRunFast, WritesTheSerialRunsBytes) {
  TempDir serial, threaded;
  write_file(serial / "model.par", RING + "1 # fast\n");
  write_file(threaded / "model.par", RING + "1 # fast\n");
  ASSERT_EQ(run_with_threads(serial, "1").status, 0);
  ASSERT_EQ(run_with_threads(threaded, "2").status, 0);
  for (const auto& name : files_in(serial.path()))
    EXPECT_TRUE(read_file(serial / name) == read_file(threaded / name)) << name;
}

// The first snapshot cannot be opened (a folder holds its name) just after
// the helper was given that snapshot's 98 rows: the stop must not race with it.
TEST(ThreadedRunStop, ExitsWhileTheHelperIsBusy) {
  TempDir dir;
  write_file(dir / "model.par", RING + "0 # flag_outer\n");
  std::filesystem::create_directory(dir / "F_x0.dat");
  const auto r = run_with_threads(dir, "2");
  EXPECT_EQ(r.status, 100) << r.output;
  EXPECT_NE(r.output.find(" Cannot open file F_x0.dat"), std::string::npos) << r.output;
  EXPECT_NE(read_file(dir / "mdotin_ring.dat").find("#5=Mdot_in_series\n"), std::string::npos);
}

TEST(ThreadSetting, AnythingButAPositiveCountIsRefused) {
  for (const std::string bad : {"0", "-2", "two", "2x", "99999999999999999999"}) {
    TempDir dir;
    write_file(dir / "model.par", RING + "0 # flag_outer\n");
    const auto r = run_with_threads(dir, "'" + bad + "'");
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.output.find("VELMORA_THREADS must be a positive whole number"), std::string::npos) << r.output;
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"model.par"}) << bad;
  }
}

}  // namespace
