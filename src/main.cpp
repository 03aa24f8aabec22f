// velmora: time evolution of the mass accretion rate at the inner edge of a
// viscous accretion disc, from the analytic (Green's-function) solution of
// the viscous diffusion equation.
//
//   velmora [-q] [--check] [--] PARAMETER_FILE
//   velmora --help | --version
//
// Step 1: take the parameter-file name from the command line (or check the
//         file and stop: run/check.h).
// Step 2: prepare the one model record of the run.
// Step 3: set up the model and run the evolution (run/driver.h).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/gmodel.h"
#include "model/settings.h"
#include "numerics/gsl_errors.h"
#include "numerics/helper_thread.h"
#include "numerics/quadrature.h"
#include "output/console.h"
#include "output/fatal.h"
#include "run/check.h"
#include "run/driver.h"

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
    console_error_begins();
    std::printf("VELMORA_THREADS must be a positive whole number (1: serial, 2: with the helper thread), not '%.40s'\n",
                text);
    std::exit(exit_status::usage);
  }
  return static_cast<int>(n);
}

constexpr char USAGE[] = "Usage: velmora [-q] [--check] [--] PARAMETER_FILE   (velmora --help for more)\n";

constexpr char HELP[] =
    "Usage: velmora [-q] [--check] [--] PARAMETER_FILE\n"
    "       velmora --help | --version\n"
    "\n"
    "Computes the accretion rate at the inner edge of a viscous accretion disc over time,\n"
    "for the model in PARAMETER_FILE (entries \"value # keyword\", one per line), and writes\n"
    "mdotin_<name>.dat, F_x_<name>.dat (and F_x<i>.dat with save 1) into the current folder.\n"
    "When standard input is a terminal it waits for return before it computes.\n"
    "\n"
    "  --check      read the file as a run would, print every keyword's value with its unit,\n"
    "               the derived constants, warnings and a verdict; compute and write nothing;\n"
    "               exit 0, or with the status the run would stop with\n"
    "  -q, --quiet  print only errors and warnings: no progress, no prompt (a run only;\n"
    "               --check prints its report)\n"
    "  --           ends the options (for a file name that starts with '-')\n"
    "  -h, --help   this text\n"
    "  --version    the version of this build\n"
    "\n"
    "Environment: VELMORA_THREADS=2 adds a helper thread (same results, faster).\n"
    "Exit status: 0 finished; 2 usage; 3 model refused; 6 finished with nan cells where a\n"
    "torque integral gave up (standard error names them); 100 file cannot be opened;\n"
    "other statuses as listed in the README.\n";

// Prints "velmora: <what> '<argument>'<why>" (when given) and the usage line
// on standard error; exit status 2.
[[noreturn]] void usage_error(const char* what = nullptr, const char* argument = "", const char* why = "") {
  if (what != nullptr) std::fprintf(stderr, "velmora: %s '%.40s'%s\n", what, argument, why);
  std::fputs(USAGE, stderr);
  std::exit(exit_status::usage);
}

// Edits (a letter typed wrong, left out or added) between two option names.
std::size_t edits_between(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replaced = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      diagonal = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, replaced});
    }
  }
  return row[b.size()];
}

// An unknown option: the usage error, then what was most likely meant, on a
// line of its own: a parameter file whose name starts with '-' (it exists
// here), or the option within two edits of it, whatever its dashes.
[[noreturn]] void unknown_option(const char* arg) {
  std::fprintf(stderr, "velmora: %s '%.40s'%s\n", "unknown option", arg, "");
  std::fputs(USAGE, stderr);
  std::FILE* named = std::fopen(arg, "r");
  if (named != nullptr) {
    std::fclose(named);
    std::fprintf(stderr, "velmora: a file name that starts with '-' comes after --: velmora -- %.40s\n", arg);
  } else {
    const std::string word = std::string(arg).substr(std::strspn(arg, "-"));
    for (const char* option : {"check", "quiet", "help", "version"}) {
      if (word.size() < 64 && edits_between(word, option) <= 2) {
        std::fprintf(stderr, "velmora: did you mean --%s?\n", option);
        break;
      }
    }
  }
  std::exit(exit_status::usage);
}

struct command_line {
  bool check = false;
  bool quiet = false;
  const char* file = nullptr;
};

// Options come before "--"; the one argument that is not an option is the file.
command_line parse_command_line(int argc, char** argv) {
  command_line c;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_ended && arg[0] == '-') {
      if (std::strcmp(arg, "--") == 0) {
        options_ended = true;
      } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::fputs(HELP, stdout);
        std::exit(exit_status::ok);
      } else if (std::strcmp(arg, "--version") == 0) {
        std::printf("velmora %s\n", VELMORA_VERSION);
        std::exit(exit_status::ok);
      } else if (std::strcmp(arg, "--check") == 0) {
        c.check = true;
      } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
        c.quiet = true;
      } else {
        unknown_option(arg);
      }
      continue;
    }
    if (c.file != nullptr) usage_error("a second argument", arg, ": one parameter file at a time");
    c.file = arg;
  }
  if (c.file == nullptr) usage_error();
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  guard_standard_streams();  // before anything opens a file
  const command_line args = parse_command_line(argc, argv);
  if (std::strlen(args.file) >= NAME_CAPACITY) {
    std::printf("File name is too long: %s\n", args.file);
    err_m(exit_status::file);
  }

  install_gsl_error_handler();
  if (args.check) {
    const int status = check_parameter_file(args.file);
    if (!console_written()) return exit_status::write_error;
    return status;
  }
  if (args.quiet) quiet_console();
  std::snprintf(filename.data(), filename.size(), "%s", args.file);
  set_run_threads(threads_from_environment());

  gmodel mod{};  // every field 0, both supply-law pointers null
  mod.flag_outer = 0;
  mod.flag_green = 0;
  mod.zero_interp.fill(0.0);

  evol_mdot_in(&mod);
  console_run_ended();
  // Console output that could not be written is a failed run too.
  if (!console_written()) return exit_status::write_error;
  // Every row is written, but a nan cell is a gap, not a result.
  if (quadrature_gap_count() > 0) return exit_status::gaps;
  return exit_status::ok;
}
