// velmora: time evolution of the mass accretion rate at the inner edge of a
// viscous accretion disc, from the analytic (Green's-function) solution of
// the viscous diffusion equation.
//
//   velmora PARAMETER_FILE
//
// Step 1: take the parameter-file name from the command line.
// Step 2: prepare the one model record of the run.
// Step 3: set up the model and run the evolution (run/driver.h).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numerics/gsl_errors.h"
#include "numerics/helper_thread.h"
#include "output/fatal.h"
#include "run/driver.h"
#include "run/model.h"
#include "run/settings.h"

namespace {

// VELMORA_THREADS: 1 (the default) runs serially, 2 or more adds the helper
// thread. Anything else is refused rather than ignored.
int threads_from_environment() {
  const char* text = std::getenv("VELMORA_THREADS");
  if (text == nullptr || *text == '\0') return 1;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || n < 1 || n > 1024) {
    std::printf("VELMORA_THREADS must be a positive whole number (1: serial, 2: with the helper thread), not '%.40s'\n",
                text);
    std::exit(exit_status::usage);
  }
  return static_cast<int>(n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Usage: velmora PARAMETER_FILE\n");
    return exit_status::usage;
  }
  if (std::strlen(argv[1]) >= NAME_CAPACITY) {
    std::printf("File name is too long: %s\n", argv[1]);
    err_m(exit_status::file);
  }
  std::snprintf(filename.data(), filename.size(), "%s", argv[1]);

  install_gsl_error_handler();
  set_run_threads(threads_from_environment());

  gmodel mod{};  // every field 0, both supply-law pointers null
  mod.flag_outer = 0;
  mod.flag_green = 0;
  mod.zero_interp.fill(0.0);

  evol_mdot_in(&mod);
  // Console output that could not be written is a failed run too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return exit_status::write_error;
  return exit_status::ok;
}
