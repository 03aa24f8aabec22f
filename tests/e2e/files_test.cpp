// What a run writes, and where: nothing of the console in a data file, no file
// outside the folder or over the parameter file, no two runs in one file, no
// data file cut in the middle of a line when the run is killed, and a closed
// console pipe that costs no data line.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

using testing_support::read_file;
using testing_support::run_in;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// Late output times: a run of a few tens of milliseconds.
const std::string MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n2 # MIN_TIME\n3 # MAX_TIME\n2 # NUM_TIME\n";

// Six output times with a profile each, about 0.4 s; the profiles take most of it.
const std::string PROFILES = MODEL + "0.2 # MIN_TIME\n6 # NUM_TIME\n1 # save\nx # name\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The data lines of a rate file, after checking that every line is header or data.
std::vector<std::string> rate_lines(const std::string& text) {
  std::vector<std::string> data;
  for (const auto& line : lines_of(text)) {
    if (line[0] == '#') continue;
    EXPECT_TRUE(::testing::internal::RE::FullMatch(line, "[0-9]+(\t[-+.0-9e]+){4}")) << "not a data line: " << line;
    data.push_back(line);
  }
  return data;
}

// Starts velmora in `dir` with standard input from /dev/null, standard output
// on `out` (nullptr: a pipe whose reader is gone) and standard error into err.txt.
pid_t start_velmora(const TempDir& dir, const std::string& parameters, const char* out = "/dev/null") {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(dir.path().c_str()) != 0) _exit(126);
  dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
  dup2(open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
  if (out != nullptr) {
    dup2(open(out, O_WRONLY), STDOUT_FILENO);
  } else {
    int ends[2];
    if (pipe(ends) != 0) _exit(126);
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
  }
  execl(VELMORA_BINARY, VELMORA_BINARY, parameters.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

int wait_status(pid_t pid) {
  int raw = 0;
  waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Waits until `p` holds at least `bytes` bytes; false after a minute without.
bool wait_for_file(const std::filesystem::path& p, std::uintmax_t bytes = 0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::error_code ec;
  while (std::filesystem::file_size(p, ec) < bytes || ec) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// A descriptor closed at start must not become a data file: the console text
// would land among the data lines.
TEST(StandardDescriptor, ClosedAtStartTakesNoDataFile) {
  for (const std::string closed : {">&-", "<&-", "2>&-"}) {
    TempDir dir;
    write_file(dir / "model.par", MODEL + "c # name\n");
    const auto r = run_in(dir.path(), "{ '" + std::string(VELMORA_BINARY) + "' model.par " + closed + "; }");
    EXPECT_EQ(r.status, 0) << closed << "\n" << r.output;
    EXPECT_EQ(rate_lines(read_file(dir / "mdotin_c.dat")).size(), 2u) << closed;
  }
}

// `velmora m.par | head -1`, with the reader gone before the first write.
TEST(ConsolePipe, ClosedIsAWriteErrorAfterTheDataLines) {
  TempDir dir;
  write_file(dir / "model.par", MODEL + "p # name\n");
  EXPECT_EQ(wait_status(start_velmora(dir, "model.par", nullptr)), 5);
  EXPECT_EQ(read_file(dir / "err.txt"), "Cannot write the console output (standard output): Broken pipe\n");
  EXPECT_EQ(rate_lines(read_file(dir / "mdotin_p.dat")).size(), 2u);
}

TEST(RunName, LongestThatTheFolderHoldsRunsOneLongerIsRefused) {
  TempDir dir;
  const std::string longest(255 - std::string("mdotin_.dat").size(), 'n');
  write_file(dir / "model.par", MODEL + "0 # NUM_TIME\n" + longest + "n # name\n");
  auto r = run_velmora(dir.path(), "model.par");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.output.find("has 245 bytes; file names here hold at most 255, so with \"mdotin_\" and \".dat\" a run "
                          "name may have at most 244\n"),
            std::string::npos)
      << r.output;
  write_file(dir / "model.par", MODEL + "0 # NUM_TIME\n" + longest + " # name\n");
  r = run_velmora(dir.path(), "model.par");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(dir / ("mdotin_" + longest + ".dat")));
}

// The second run of a name is refused before it writes; the first one's file stays whole.
TEST(SameName, SecondRunIsRefusedNamingTheFirst) {
  TempDir dir;
  write_file(dir / "model.par", PROFILES);
  const pid_t first = start_velmora(dir, "model.par");
  ASSERT_TRUE(wait_for_file(dir / "mdotin_x.dat"));
  const auto second = run_velmora(dir.path(), "model.par");
  EXPECT_EQ(second.status, 100);
  EXPECT_NE(second.output.find(" Cannot open file mdotin_x.dat: another run (process " + std::to_string(first) +
                               ") is writing it\n"),
            std::string::npos)
      << second.output;
  ASSERT_EQ(wait_status(first), 0);
  const std::string rate = read_file(dir / "mdotin_x.dat");
  const auto data = rate_lines(rate);
  ASSERT_EQ(data.size(), 6u);
  for (size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i].substr(0, 2), std::to_string(i) + "\t");
  EXPECT_EQ(lines_of(rate).size(), 33u + 6u);
}

// Snapshot names carry no run name: a run of another name with save 1 is
// refused while the first writes its profiles (before it writes anything),
// and one after it warns that it replaces them; a rerun of its own name does not.
TEST(SnapshotNames, AnotherNameIsRefusedWhileTheFirstRunsAndWarnedAfter) {
  TempDir dir;
  write_file(dir / "model.par", PROFILES);
  write_file(dir / "other.par", PROFILES + "y # name\n");
  const pid_t first = start_velmora(dir, "model.par");
  ASSERT_TRUE(wait_for_file(dir / "mdotin_x.dat"));
  const auto second = run_velmora(dir.path(), "other.par");
  EXPECT_EQ(second.status, 100) << second.output;
  EXPECT_NE(second.output.find(" Cannot write the profiles F_x<i>.dat: another run (process " + std::to_string(first) +
                               ") is writing its own in this folder\n"),
            std::string::npos)
      << second.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "mdotin_y.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir / "F_x_y.dat"));
  ASSERT_EQ(wait_status(first), 0);
  // The first run's last profile is whole: its last mesh point at its last time, 3 texp = 7.776e6 s.
  const std::string last_profile = read_file(dir / "F_x5.dat");
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(last_profile, "\n98\t1\\.000000e\\+00\t[^\n]*\t7\\.776000e\\+06\n$"))
      << last_profile.substr(last_profile.size() - 100);

  const std::string warning = "warning: F_x0.dat here was written by another run";
  const auto after = run_velmora(dir.path(), "other.par");
  EXPECT_EQ(after.status, 0) << after.output;
  EXPECT_NE(after.output.find(warning + " (it is newer than mdotin_y.dat)"), std::string::npos) << after.output;
  const auto again = run_velmora(dir.path(), "other.par");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(again.output.find(warning), std::string::npos) << again.output;
}

// However the parameter file is named in the folder, no data file replaces it.
struct SecondName {
  const char* label;
  const char* parameter_file;  // the name the run is given
  const char* link;            // another name of it, or ""
  bool symbolic;
};

class ParameterFile : public ::testing::TestWithParam<SecondName> {};

TEST_P(ParameterFile, IsNeverOverwritten) {
  const SecondName& c = GetParam();
  TempDir dir;
  const std::string parameters = PROFILES + "case # name\n";
  write_file(dir / c.parameter_file, parameters);
  if (c.link[0] != '\0' && c.symbolic) std::filesystem::create_symlink(c.parameter_file, dir / c.link);
  if (c.link[0] != '\0' && !c.symbolic) std::filesystem::create_hard_link(dir / c.parameter_file, dir / c.link);
  const auto r = run_velmora(dir.path(), c.parameter_file);
  EXPECT_EQ(r.status, 100) << r.output;
  EXPECT_NE(r.output.find("is the parameter file " + std::string(c.parameter_file) + ": refusing to overwrite it\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(read_file(dir / c.parameter_file), parameters);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.exists();
  EXPECT_EQ(files, c.link[0] != '\0' ? 2u : 1u) << "a refused run writes nothing";
}

INSTANTIATE_TEST_SUITE_P(Names, ParameterFile,
                         ::testing::Values(SecondName{"RateFile", "mdotin_case.dat", "", false},
                                           SecondName{"InitialProfileLink", "m.par", "F_x_case.dat", true},
                                           SecondName{"SnapshotHardLink", "m.par", "F_x5.dat", false}),
                         [](const ::testing::TestParamInfo<SecondName>& info) {
                           return std::string(info.param.label);
                         });

// Every file a killed run leaves holds whole lines, every profile all of its
// lines (header, legend, 99 points).
void expect_whole_files(const TempDir& dir, const std::string& trial) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    const std::string text = read_file(entry.path());
    EXPECT_TRUE(text.empty() || text.back() == '\n') << name << " ends in a partial line (" << trial << ")";
    if (name.rfind("F_x", 0) == 0) {
      EXPECT_EQ(lines_of(text).size(), 28u + 7u + 99u) << name << " (" << trial << ")";
    }
  }
}

// kill -9 at seeded random moments of a run with profiles.
TEST(Killed, LeavesOnlyWholeLines) {
  std::mt19937 random(19);
  std::uniform_int_distribution<int> moment_ms(0, 400);
  for (int trial = 0; trial < 5; ++trial) {
    TempDir dir;
    write_file(dir / "model.par", PROFILES);
    const pid_t run = start_velmora(dir, "model.par");
    const int ms = moment_ms(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    kill(run, SIGKILL);
    wait_status(run);
    expect_whole_files(dir, "killed after " + std::to_string(ms) + " ms");
  }
}

// The moment a profile has reached the disk in two 4096-byte blocks: the
// second block ends inside a line.
TEST(Killed, WhenAProfileHoldsTwoBlocks) {
  TempDir dir;
  write_file(dir / "model.par", PROFILES);
  const pid_t run = start_velmora(dir, "model.par");
  const bool reached = wait_for_file(dir / "F_x0.dat", 8192);
  kill(run, SIGKILL);
  wait_status(run);
  ASSERT_TRUE(reached);
  expect_whole_files(dir, "killed at 8192 bytes");
}

// A run stopped during its first output time still leaves the header and legend.
TEST(Killed, DuringTheFirstTimeLeavesTheHeader) {
  TempDir dir;
  write_file(dir / "model.par", MODEL + "0.2 # MIN_TIME\n1 # NUM_TIME\n1 # save\nh # name\n");
  const pid_t run = start_velmora(dir, "model.par");
  const bool reached = wait_for_file(dir / "F_x_h.dat");  // written just before the first time begins
  kill(run, SIGKILL);
  wait_status(run);
  ASSERT_TRUE(reached);
  EXPECT_EQ(lines_of(read_file(dir / "mdotin_h.dat")).size(), 33u);
}

}  // namespace
