// What a new user meets first, on the built program: the command line
// (--check, --help, --version, --, usage), the reader's warnings about
// entries it drops, the key press that never takes a caller's input, and
// file errors that say why.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include <sys/resource.h>

#include "model/parameters.h"
#include "support/test_support.h"

using testing_support::read_file;
using testing_support::run_in;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

const std::string MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n2 # MIN_TIME\n3 # MAX_TIME\n1 # NUM_TIME\n";

const std::string VELMORA = std::string("'") + VELMORA_BINARY + "'";

size_t files_in(const TempDir& dir) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) n += e.path().extension() != ".par";
  return n;
}

// The "name = value unit" lines of --check, in order.
struct check_output {
  std::vector<std::string> names;
  std::map<std::string, std::string> value, unit;
  std::string verdict;
};

check_output parse_check(const std::string& text) {
  check_output c;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("verdict: ", 0) == 0) c.verdict = line.substr(9);
    std::istringstream fields(line);
    std::string name, eq, value, unit;
    if (line[0] == '#' || !(fields >> name >> eq >> value >> unit) || eq != "=") continue;
    c.names.push_back(name);
    c.value[name] = value;
    c.unit[name] = unit;
  }
  return c;
}

// --check of a kappa-branch model: every keyword of the reader's table once,
// in its order, with its unit; values that read back to the file's doubles;
// texp as the set-up derives it, the same the run then writes into its header.
TEST(Check, PrintsEveryKeywordTheDerivedConstantsAndWritesNothing) {
  TempDir dir;
  std::string model = MODEL + "2.5e-3 # kappa\nk # name\n";
  model.replace(model.find("30 # texp"), 9, "0 # texp");
  write_file(dir / "k.par", model);
  const auto r = run_velmora(dir.path(), "--check k.par");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(files_in(dir), 0u);
  const check_output c = parse_check(r.output);
  EXPECT_EQ(c.verdict, "ok");
  size_t i = 0;
  for (const parameter_keyword& k : PARAMETER_KEYWORDS) {
    ASSERT_LT(i, c.names.size());
    EXPECT_EQ(c.names[i++], k.name);
    EXPECT_EQ(c.unit.at(k.name), k.unit);
  }
  EXPECT_EQ(std::strtod(c.value.at("mass").c_str(), nullptr), 1.989e34);
  EXPECT_EQ(std::strtod(c.value.at("r_ign_in").c_str(), nullptr), 1e-4);
  EXPECT_EQ(c.value.at("name"), "k");
  // The derived kappa is the given one up to the rounding of a few pow/sqrt.
  EXPECT_TRUE(testing_support::near_rel(std::strtod(c.value.at("kappa").c_str(), nullptr), 2.5e-3, 1e-14));
  const double texp_days = std::strtod(c.value.at("texp").c_str(), nullptr);
  EXPECT_EQ(std::strtod(c.value.at("texp_s").c_str(), nullptr), texp_days * 86400.0);
  EXPECT_EQ(c.value.at("b"), "0.75");

  ASSERT_EQ(run_velmora(dir.path(), "k.par").status, 0);
  char header[64];
  std::snprintf(header, sizeof header, "#texp(days)=%e\n", texp_days);
  EXPECT_NE(read_file(dir / "mdotin_k.dat").find(header), std::string::npos);
}

struct Verdict {
  const char* label;
  std::string entries;  // appended to MODEL
  int status;
  const char* verdict;  // start of the verdict line
};

class CheckVerdict : public ::testing::TestWithParam<Verdict> {};

TEST_P(CheckVerdict, HasTheStatusTheRunWouldStopWith) {
  const Verdict& v = GetParam();
  TempDir dir;
  write_file(dir / "m.par", MODEL + v.entries);
  const auto r = run_velmora(dir.path(), "--check m.par");
  EXPECT_EQ(r.status, v.status) << r.output;
  EXPECT_EQ(parse_check(r.output).verdict.rfind(v.verdict, 0), 0u) << r.output;
  EXPECT_EQ(files_in(dir), 0u);
  if (v.status != 0) {
    EXPECT_EQ(run_velmora(dir.path(), "m.par").status, v.status);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, CheckVerdict,
    ::testing::Values(Verdict{"Accepted", "", 0, "ok"},
                      Verdict{"UnknownMode", "3 # flag_outer\n", 3, "refused (status 3): Invalid model: flag_outer = 3"},
                      Verdict{"OrderOutOfRange", "0.05 # l\n", 3,
                              "refused (status 3): Invalid model: l = 0.050000000000000003 must lie in [0.1, 10]"},
                      Verdict{"OverlongToken", std::string(600, 'w'), 3,
                              "refused (status 3): Invalid parameter file: a token longer"}),
    [](const ::testing::TestParamInfo<Verdict>& info) { return std::string(info.param.label); });

// The typos of a new user: each dropped entry is named on standard error with
// its line, the run goes on with what the file says, comment words stay silent.
TEST(ReaderWarnings, NameEveryDroppedEntryWithItsLine) {
  TempDir dir;
  write_file(dir / "t.par", MODEL + "1 # flag_outer\n1e17 # mdotout\n3e25#mdisk\n30 # texpp\nword # save\n"
                                    "ordinary words of a comment, 1e5 and all\nt # name\n");
  const auto r = run_in(dir.path(), "(" + VELMORA + " t.par 2> err.txt > out.txt)");
  ASSERT_EQ(r.status, 0) << read_file(dir / "out.txt");
  EXPECT_EQ(read_file(dir / "err.txt"),
            "warning: t.par line 13: mdotout: not a keyword; did you mean mdot_out?\n"
            "warning: t.par line 14: 3e25#mdisk: a value glued to '#' is not read (write the value, a blank, '#' "
            "and the keyword)\n"
            "warning: t.par line 15: texpp: not a keyword; did you mean texp?\n"
            "warning: t.par line 16: save: the value 'word' is not a whole number; the entry is skipped\n");
  EXPECT_NE(read_file(dir / "mdotin_t.dat").find("#mdisk=1.000000e+25\n#mdot_out=0.000000e+00\n"), std::string::npos);
  // --check prints the same lines on standard output, before its verdict.
  const auto c = run_velmora(dir.path(), "--check t.par");
  EXPECT_NE(c.output.find("\nwarning: t.par line 13: mdotout: not a keyword; did you mean mdot_out?\n"),
            std::string::npos);
  EXPECT_NE(c.output.find("\nwarning: t.par line 16: save: the value 'word' is not a whole number; the entry is skipped\n"
                          "verdict: ok\n"),
            std::string::npos)
      << c.output;
}

struct Invocation {
  const char* label;
  const char* arguments;
  int status;
  const char* output;  // a regular expression the combined output must match
};

class CommandLine : public ::testing::TestWithParam<Invocation> {};

TEST_P(CommandLine, GivesItsStatusAndText) {
  const Invocation& c = GetParam();
  TempDir dir;
  write_file(dir / "-m.par", MODEL + "dash # name\n");
  const auto r = run_velmora(dir.path(), c.arguments);
  EXPECT_EQ(r.status, c.status) << r.output;
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(r.output, c.output)) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(Invocation{"Help", "--help", 0, "^Usage: velmora \\[-q\\] \\[--check\\] \\[--\\] PARAMETER_FILE\n"},
                      Invocation{"ShortHelp", "-h", 0, "--check +read the file as a run would"},
                      Invocation{"Version", "--version", 0, "^velmora [0-9]+\\.[0-9]+\n$"},
                      Invocation{"UnknownOption", "--chek m.par", 2, "^velmora: unknown option '--chek'\nUsage: "},
                      Invocation{"SecondArgument", "a.par b.par", 2, "a second argument 'b.par'"},
                      Invocation{"DashNameWithoutSeparator", "-m.par", 2, "unknown option '-m.par'"},
                      // After the usage line, what was most likely meant; nothing when no option is near.
                      Invocation{"MisspeltOptionNamed", "--verison", 2, "\\)\nvelmora: did you mean --version\\?\n$"},
                      Invocation{"SingleDashOptionNamed", "-check m.par", 2, "\nvelmora: did you mean --check\\?\n$"},
                      Invocation{"DashFileShownTheSeparator", "-m.par", 2,
                                 "\nvelmora: a file name that starts with '-' comes after --: velmora -- -m\\.par\n$"},
                      Invocation{"FarOptionWithoutGuess", "--frobnicate m.par", 2, "\\(velmora --help for more\\)\n$"},
                      Invocation{"DashNameAfterSeparator", "-- -m.par", 0, "Finished. Result is in mdotin_dash.dat"},
                      Invocation{"CheckAfterSeparator", "--check -- -m.par", 0, "\nverdict: ok\n$"},
                      Invocation{"QuietHelp", "--help", 0, "\n  -q, --quiet  print only errors and warnings"},
                      Invocation{"Quiet", "-q -- -m.par", 0, "^$"},
                      Invocation{"QuietLong", "--quiet -- -m.par", 0, "^$"},
                      Invocation{"QuietMissingFile", "-q no.par",
                                 100, "^ Cannot open file no\\.par: No such file or directory\n\n\a! Error #100: "}),
    [](const ::testing::TestParamInfo<Invocation>& info) { return std::string(info.param.label); });

// Standard input that is not a terminal is never read: a shell loop that
// feeds file names runs every model, and an input that never ends (a FIFO
// held open by its writer) does not hold the run.
TEST(KeyPress, InputThatIsNoTerminalIsLeftToTheCaller) {
  TempDir dir;
  write_file(dir / "a.par", MODEL + "a # name\n");
  write_file(dir / "b.par", MODEL + "b # name\n");
  const auto loop = run_in(dir.path(), "(printf 'a.par\\nb.par\\n' | while read f; do " + VELMORA + " \"$f\"; done)");
  EXPECT_EQ(loop.status, 0) << loop.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "mdotin_a.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir / "mdotin_b.dat")) << "the first run took the loop's input";

  const auto fifo = run_in(dir.path(), "(mkfifo keys && exec 3<>keys && timeout 60 " + VELMORA + " a.par <&3)");
  EXPECT_EQ(fifo.status, 0) << fifo.output;
  EXPECT_NE(fifo.output.find("Press return to start calculation\n"), std::string::npos);
}

// Every failed open says why; a directory as the parameter file is a read error.
struct FileError {
  const char* label;
  const char* arguments;
  std::string entries;  // the model's extra entries; the model file is m.par
  const char* line;
};

class FileErrors : public ::testing::TestWithParam<FileError> {};

// Longer than the 255 bytes of a file name (a run name that long is refused before any open).
const std::string LONG_FILE_NAME = std::string(300, 'x') + ".par";

TEST_P(FileErrors, CarryTheSystemsReasonAndStatusHundred) {
  const FileError& c = GetParam();
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  write_file(dir / "m.par", MODEL + c.entries);
  const auto r = run_velmora(dir.path(), c.arguments);
  EXPECT_EQ(r.status, 100) << r.output;
  EXPECT_NE(r.output.find(c.line), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("! Error #100: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileErrors,
    ::testing::Values(FileError{"Missing", "absent.par", "", " Cannot open file absent.par: No such file or directory\n"},
                      FileError{"Directory", "folder", "", " Cannot read file folder: Is a directory\n"},
                      FileError{"DirectoryChecked", "--check folder", "", " Cannot read file folder: Is a directory\n"},
                      FileError{"NameTooLongForTheFileSystem", LONG_FILE_NAME.c_str(), "",  // 304 bytes in one name
                                ".par: File name too long\n"}),
    [](const ::testing::TestParamInfo<FileError>& info) { return std::string(info.param.label); });

// CPU seconds of the processes this test has waited for so far.
double children_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + 1e-6 * u.ru_utime.tv_usec + u.ru_stime.tv_sec + 1e-6 * u.ru_stime.tv_usec;
}

// fast 1 with a profile at each of 20 output times costs less than the
// radial integrals (measured: 0.07 s against 0.38 s of CPU), and every data
// file of a fast run carries "#fast=1" right after its 28-line header.
TEST(FastRun, IsNotSlowerWithSnapshotsAndSaysSoInItsFiles) {
  TempDir slow_dir, fast_dir;
  const std::string model = MODEL + "0.1 # MIN_TIME\n20 # NUM_TIME\n1 # save\nf # name\n";
  write_file(slow_dir / "m.par", model);
  write_file(fast_dir / "m.par", model + "1 # fast\n");
  const double before = children_cpu_seconds();
  ASSERT_EQ(run_velmora(slow_dir.path(), "m.par").status, 0);
  const double between = children_cpu_seconds();
  ASSERT_EQ(run_velmora(fast_dir.path(), "m.par").status, 0);
  const double after = children_cpu_seconds();
  EXPECT_LT(after - between, between - before) << "fast " << after - between << " s, default " << between - before;

  for (const char* file : {"mdotin_f.dat", "F_x_f.dat", "F_x0.dat", "F_x19.dat"}) {
    std::istringstream fast_text(read_file(fast_dir / file));
    std::string line;
    for (int i = 0; i < 29; ++i) std::getline(fast_text, line);
    EXPECT_EQ(line, "#fast=1") << file;
    EXPECT_EQ(read_file(slow_dir / file).find("#fast"), std::string::npos) << file;
  }
}

// Values that look like another unit are run, with a warning each that
// names the keyword, the value and the value meant: in --check before the
// verdict, in a run on standard error (standard output is the console's
// as before), in a quiet run too.
TEST(UnitSlips, AreWarnedInTheCheckAndTheRun) {
  TempDir dir;
  write_file(dir / "slip.par", MODEL + "10 # mass\n1e6 # r_out_disk\n2.592e6 # texp\nslip # name\n");
  const std::vector<std::string> warnings = {
      "warning: mass = 10 g is below 1e+30 g: solar masses? 10 solar masses is 1.989e+34 g\n",
      "warning: r_out_disk = 1e+06 cm is below 1e+08 cm: km? 1e+06 km is 1e+11 cm\n",
      "warning: texp = 2.592e+06 days is above 10000 days: seconds? 2.592e+06 s is 30 days\n"};
  const auto check = run_velmora(dir.path(), "--check slip.par");
  EXPECT_EQ(check.status, 0) << check.output;
  std::string expected_end;
  for (const auto& w : warnings) expected_end += w;
  expected_end += "verdict: ok\n";
  ASSERT_GE(check.output.size(), expected_end.size());
  EXPECT_EQ(check.output.substr(check.output.size() - expected_end.size()), expected_end) << check.output;

  for (const std::string options : {"", "-q "}) {
    const auto err = run_in(dir.path(), "(" + VELMORA + " " + options + "slip.par 2>&1 >/dev/null)");
    EXPECT_EQ(err.status, 0) << err.output;
    EXPECT_EQ(err.output, expected_end.substr(0, expected_end.size() - std::string("verdict: ok\n").size()));
    const auto out = run_in(dir.path(), "(" + VELMORA + " " + options + "slip.par 2>/dev/null)");
    EXPECT_EQ(out.output.find("warning"), std::string::npos) << out.output;
  }
  // A sound model has none.
  write_file(dir / "sound.par", MODEL);
  EXPECT_EQ(run_velmora(dir.path(), "--check sound.par").output.find("warning"), std::string::npos);
}

// A file without NUM_TIME (0 when missing) runs and writes headers only: the
// check and the run say so, a run of one time or more says nothing of it.
TEST(NoOutputTimes, AreWarnedInTheCheckAndTheRun) {
  TempDir dir;
  std::string model = MODEL;
  model.erase(model.find("1 # NUM_TIME\n"));  // NUM_TIME is the model's last line
  write_file(dir / "none.par", model + "none # name\n");
  const std::string warning =
      "warning: NUM_TIME = 0: no output times; the run writes the initial torque profile and the rate file's "
      "header only (set MIN_TIME, MAX_TIME and NUM_TIME)\n";
  const auto check = run_velmora(dir.path(), "--check none.par");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("\nNUM_TIME = 0 count\n"), std::string::npos) << check.output;
  EXPECT_NE(check.output.find(warning + "verdict: ok\n"), std::string::npos) << check.output;
  const auto err = run_in(dir.path(), "(" + VELMORA + " -q none.par 2>&1 >/dev/null)");
  EXPECT_EQ(err.status, 0);
  EXPECT_EQ(err.output, warning);
  EXPECT_TRUE(std::filesystem::exists(dir / "F_x_none.dat"));
  const std::string rate = read_file(dir / "mdotin_none.dat");
  EXPECT_EQ(rate.back(), '\n');
  EXPECT_EQ(rate.substr(rate.rfind('\n', rate.size() - 2) + 1), "#5=Mdot_in_series\n") << "headers only";

  write_file(dir / "one.par", MODEL + "one # name\n");
  EXPECT_EQ(run_velmora(dir.path(), "--check one.par").output.find("NUM_TIME = 0:"), std::string::npos);
}

// -q drops the progress and keeps what matters: the data files are the
// plain run's, byte for byte, and a stop still says why.
TEST(QuietRun, WritesTheSameFilesAndShowsOnlyTheStops) {
  TempDir plain, quiet;
  const std::string model = MODEL + "1 # save\n2 # NUM_TIME\nq # name\n";
  write_file(plain / "m.par", model);
  write_file(quiet / "m.par", model);
  const auto p = run_velmora(plain.path(), "m.par");
  const auto q = run_velmora(quiet.path(), "-q m.par");
  ASSERT_EQ(p.status, 0) << p.output;
  ASSERT_EQ(q.status, 0) << q.output;
  EXPECT_NE(p.output.find("Finished. Result is in mdotin_q.dat"), std::string::npos);
  EXPECT_EQ(q.output, "");
  for (const char* file : {"mdotin_q.dat", "F_x_q.dat", "F_x0.dat", "F_x1.dat"})
    EXPECT_EQ(read_file(quiet / file), read_file(plain / file)) << file;

  // A refused model and a data file that cannot be written, each with its line and status.
  write_file(quiet / "bad.par", MODEL + "5 # flag_outer\n");
  const auto refused = run_velmora(quiet.path(), "-q bad.par");
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.output, "Invalid model: flag_outer = 5 must be 0, 1 or 2\n");
  std::filesystem::create_symlink("/dev/full", quiet / "mdotin_full.dat");
  write_file(quiet / "full.par", MODEL + "full # name\n");
  const auto full = run_velmora(quiet.path(), "-q full.par");
  EXPECT_EQ(full.status, 5);
  EXPECT_EQ(full.output, "Cannot write file mdotin_full.dat: No space left on device\n");
}

}  // namespace
