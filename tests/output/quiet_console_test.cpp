// A quiet console drops the progress but never the reason of a stop: the
// stops that announce themselves print on the console from there on, and
// one that does not (the solver's own "print and exit") has its last line
// shown at the exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "output/fatal.h"
#include "support/test_support.h"

namespace {

using testing_support::run_forked;

TEST(QuietConsole, ShowsTheReasonOfEveryStopAndNothingElse) {
  const auto announced = run_forked([] {
    quiet_console();
    std::printf(" Now t=1 s\nmdin=1e17\n");
    refuse_model("Invalid model: %s", "flag_outer = 5");
  });
  EXPECT_EQ(announced.status, 3);
  EXPECT_EQ(announced.output, "Invalid model: flag_outer = 5\n");

  const auto unannounced = run_forked([] {
    quiet_console();
    std::printf(" Now t=1 s\nmdin=1e17\n");
    std::printf("Invalid event in F_x_t(). Exit\n");
    std::exit(3);
  });
  EXPECT_EQ(unannounced.status, 3);
  EXPECT_EQ(unannounced.output, "Invalid event in F_x_t(). Exit\n");

  const auto finished = run_forked([] {
    quiet_console();
    std::printf("Finished. Result is in mdotin_q.dat\n\n");
    console_run_ended();
    std::exit(0);
  });
  EXPECT_EQ(finished.status, 0);
  EXPECT_EQ(finished.output, "");
}

}  // namespace
