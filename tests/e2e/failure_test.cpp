// Failures end with their own status and a line that says what happened,
// and never cost the data lines already computed: a data file that cannot be
// written, standard output that cannot be written, and an error reported by
// the numerical library.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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
