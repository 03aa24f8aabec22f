// Fatal stops and the program's exit statuses.
//
// Nothing in velmora is retried and no function returns an error code: a
// failure prints one line on standard output and ends the process through
// exit(), so every open stream, data files included, is flushed and closed.
#pragma once

#include <array>

namespace exit_status {
constexpr int ok = 0;
constexpr int allocation = 1;        // a working array could not be allocated
constexpr int usage = 2;             // no parameter file named on the command line
constexpr int invalid_model = 3;     // the parameter file or the model it describes is refused
constexpr int numerical_library = 4; // GSL reported an error
constexpr int write_error = 5;       // a data file could not be written
constexpr int gaps = 6;              // finished, but torque integrals gave up: nan cells (stderr names them)
constexpr int mesh_no_points = 47;   // mesh of 0 points requested
constexpr int mesh_bounds = 48;      // mesh bounds too close to each other
constexpr int mesh_flag = 49;        // mesh kind neither linear nor logarithmic
constexpr int file = 100;            // file name too long, or the file cannot be opened
constexpr int bessel_table = -1;     // unsupported Bessel order or series too long (255 in the shell)
}  // namespace exit_status

// -q/--quiet: from here on the run's progress on standard output is
// dropped. Warnings (standard error) are shown as always. A stop that does
// not call console_error_begins (the solver's own) has the last line it
// printed shown at the exit, unless console_run_ended was called.
void quiet_console();
bool console_is_quiet();
void console_run_ended();  // the run is complete: nothing held is shown

// Called by every stop before it prints its reason on standard output: in a
// quiet run, standard output is the console's again from here, so that the
// reason and the stop's line are shown. Does nothing in a run that is not
// quiet; keeps errno.
void console_error_begins();

// Prints "\n\a! Error #<i>: <description>  => STOP !\n" and exits with status i.
[[noreturn]] void err_m(int i);

// Why a parameter file or model is refused: one line, without the newline.
using refusal_text = std::array<char, 512>;

// Formats the reason into `why` and returns false, for checks that report a
// refusal to their caller instead of stopping.
bool refuse(refusal_text& why, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Refuses the model: prints the printf-formatted line (a newline is added)
// and exits with exit_status::invalid_model. Used before anything is computed.
[[noreturn]] void refuse_model(const char* format, ...) __attribute__((format(printf, 1, 2)));
