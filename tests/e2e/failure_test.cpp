// Failures end with their own status and a line that says what happened,
// and never cost the data lines already computed: a data file that cannot be
// written, standard output that cannot be written, and an error reported by
// the numerical library.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include <gsl/gsl_errno.h>
#include <gsl/gsl_spline.h>

#include "numerics/gsl_errors.h"
#include "numerics/gsl_owners.h"
#include "support/test_support.h"

using testing_support::read_file;
using testing_support::run_forked;
using testing_support::run_in;
using testing_support::run_velmora;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// Late output times only: five series terms, a fraction of a second each.
const std::string MODEL =
    "1.989e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n1e-4 # r_ign_in\n1 # r_ign_out\n"
    "-1 # sigma_index\n30 # texp\n2 # MIN_TIME\n3 # MAX_TIME\nfull # name\n";

struct UnwritableFile {
  const char* label;
  const char* file;     // the data file that points at /dev/full
  const char* entries;  // appended to the model
};

class WriteError : public ::testing::TestWithParam<UnwritableFile> {};

TEST_P(WriteError, StopsWithStatusFiveNamingTheFile) {
  const UnwritableFile& c = GetParam();
  TempDir dir;
  write_file(dir / "model.par", MODEL + c.entries);
  std::filesystem::create_symlink("/dev/full", dir / c.file);
  const auto r = run_velmora(dir.path(), "model.par");
  EXPECT_EQ(r.status, 5) << r.output;
  EXPECT_NE(r.output.find(std::string("Cannot write file ") + c.file + ": No space left on device\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("Finished."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Files, WriteError,
                         ::testing::Values(UnwritableFile{"RateFile", "mdotin_full.dat", "2 # NUM_TIME\n"},
                                           UnwritableFile{"RateFileWithoutTimes", "mdotin_full.dat", "0 # NUM_TIME\n"},
                                           UnwritableFile{"InitialProfile", "F_x_full.dat", "1 # NUM_TIME\n"},
                                           UnwritableFile{"Snapshot", "F_x1.dat", "2 # NUM_TIME\n1 # save\n"}),
                         [](const ::testing::TestParamInfo<UnwritableFile>& info) {
                           return std::string(info.param.label);
                         });

// The snapshot of the second time fails: the rate of the first time is already in its file.
TEST(WriteError, KeepsTheLinesComputedBefore) {
  TempDir dir;
  write_file(dir / "model.par", MODEL + "2 # NUM_TIME\n1 # save\n");
  std::filesystem::create_symlink("/dev/full", dir / "F_x1.dat");
  const auto r = run_velmora(dir.path(), "model.par");
  ASSERT_EQ(r.status, 5) << r.output;
  const std::string rate = read_file(dir / "mdotin_full.dat");
  EXPECT_NE(rate.find("\n0\t5.184000e+06\t"), std::string::npos) << rate;
  EXPECT_EQ(rate.find("\n1\t"), std::string::npos);
}

TEST(WriteError, ConsoleThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  write_file(dir / "model.par", MODEL + "0 # NUM_TIME\n");
  const auto r = run_in(dir.path(), std::string("'") + VELMORA_BINARY + "' model.par > /dev/full; echo status=$?");
  EXPECT_NE(r.output.find("status=5"), std::string::npos) << r.output;
}

// A write that fails part way through a line, here at the file-size limit
// (8 or 16 KiB as the shell counts blocks; the rate file of 400 times has
// 25 KB, the initial profile 7 KB), leaves the file cut back to its last
// whole line, and the limit is reported like a full disk instead of the
// process dying of SIGXFSZ. (Measured the same on a full 12 KiB tmpfs.)
TEST(WriteError, FileSizeLimitLeavesWholeLinesAndStatusFive) {
  TempDir dir;
  write_file(dir / "model.par", MODEL + "400 # NUM_TIME\n");
  const auto r = run_in(dir.path(), std::string("ulimit -f 16 && '") + VELMORA_BINARY + "' model.par");
  EXPECT_EQ(r.status, 5) << r.output;
  EXPECT_NE(r.output.find("Cannot write file mdotin_full.dat: File too large\n"), std::string::npos) << r.output;
  const std::string rate = read_file(dir / "mdotin_full.dat");
  ASSERT_FALSE(rate.empty());
  EXPECT_EQ(rate.back(), '\n') << rate.substr(rate.size() > 80 ? rate.size() - 80 : 0);
  std::istringstream lines(rate);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int i = -1;
    double t, mdot, err, exact;
    EXPECT_TRUE(fields >> i >> t >> mdot >> err >> exact && (fields >> std::ws).eof()) << line;
    EXPECT_EQ(i, rows) << line;
    EXPECT_GT(mdot, 1e16) << line;  // a cut exponent would read as a few g/s
    ++rows;
  }
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, 400);
}

// A spline evaluated outside its mesh is a real GSL error (GSL_EDOM): the
// handler reports it with the run's context and exits with status 4, and
// the normal exit flushes what an open data file had buffered.
TEST(NumericalLibraryError, StopsWithStatusFourAndKeepsBufferedLines) {
  TempDir dir;
  const auto data = dir / "data.dat";
  const auto r = run_forked([&data] {
    install_gsl_error_handler();
    FILE* out = std::fopen(data.c_str(), "w");
    std::fprintf(out, "0\t1.0\n1\t2.0\n");  // buffered, not yet flushed
    set_run_context("the inner accretion rate", 86400.0);
    const double xs[3] = {0.0, 1.0, 2.0};
    const double ys[3] = {0.0, 1.0, 4.0};
    spline_owner spline(gsl_spline_alloc(gsl_interp_cspline, 3));
    accel_owner accel(gsl_interp_accel_alloc());
    gsl_spline_init(spline.get(), xs, ys, 3);
    gsl_spline_eval(spline.get(), 3.0, accel.get());
    std::printf("not reached\n");
  });
  EXPECT_EQ(r.status, 4);
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(
      r.output, "GSL error 1 \\(input domain error\\) in .*interp\\.c:[0-9]+: interpolation error; "
                "during the inner accretion rate at t=8\\.640000e\\+04 s\n"))
      << r.output;
  EXPECT_EQ(r.output.find("not reached"), std::string::npos);
  EXPECT_EQ(read_file(data), "0\t1.0\n1\t2.0\n");
}

}  // namespace
