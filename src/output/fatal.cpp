// The numbered fatal stop and the refusal of an invalid model.
#include "output/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Short description per error code; at most 199 characters each.
const char* describe(int code) {
  switch (code) {
    case exit_status::file: return "file name too long or file cannot be opened";
    case exit_status::allocation: return "memory allocation failed";
    default: return "";
  }
}

int console_stdout = -1;  // the console's standard output while a quiet run drops its progress

}  // namespace

void quiet_console() {
  std::fflush(stdout);
  const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) {  // nothing is hidden rather than an error lost
    if (saved >= 0) close(saved);
    if (null >= 0) close(null);
    return;
  }
  close(null);
  console_stdout = saved;
}

bool console_is_quiet() { return console_stdout >= 0; }

void console_error_begins() {
  if (console_stdout < 0) return;
  const int reason = errno;  // the stop's reason, still to be printed
  std::fflush(stdout);       // the progress still buffered goes where the rest went
  dup2(console_stdout, STDOUT_FILENO);
  close(console_stdout);
  console_stdout = -1;
  errno = reason;
}

void err_m(int i) {
  console_error_begins();
  std::printf("\n\a! Error #%i: %s  => STOP !\n", i, describe(i));
  std::exit(i);
}

bool refuse(refusal_text& why, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(why.data(), why.size(), format, args);
  va_end(args);
  return false;
}

void refuse_model(const char* format, ...) {
  console_error_begins();
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::exit(exit_status::invalid_model);
}
