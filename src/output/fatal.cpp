// The numbered fatal stop and the refusal of an invalid model.
#include "output/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <sys/types.h>

namespace {

// Short description per error code; at most 199 characters each.
const char* describe(int code) {
  switch (code) {
    case exit_status::file: return "file name too long or file cannot be opened";
    case exit_status::allocation: return "memory allocation failed";
    default: return "";
  }
}

// A quiet run's standard output: a stream that keeps only the line being
// written and the last complete one (a stop that does not announce itself
// prints its reason as its last line), so that its progress costs no file.
constexpr std::size_t KEPT_LINE = 512;  // bytes of a held line
struct held_line {
  char text[KEPT_LINE];
  std::size_t size;
};
held_line last{}, current{};
FILE* console = nullptr;  // the console's standard output while a quiet run holds its progress
bool run_ended = false;

ssize_t hold_progress(void*, const char* buffer, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (buffer[i] == '\n') {
      if (current.size > 0) last = current;
      current.size = 0;
    } else if (current.size < KEPT_LINE) {
      current.text[current.size++] = buffer[i];
    }
  }
  return static_cast<ssize_t>(size);
}

// At the exit: the console back in place; after a stop that did not
// announce itself (console_error_begins), its last line shown.
void give_the_console_back() {
  if (console == nullptr) return;
  std::fflush(stdout);
  stdout = console;
  console = nullptr;
  const held_line& reason = current.size > 0 ? current : last;
  if (!run_ended && reason.size > 0) std::printf("%.*s\n", static_cast<int>(reason.size), reason.text);
}

}  // namespace

void quiet_console() {
  const cookie_io_functions_t io{nullptr, &hold_progress, nullptr, nullptr};
  FILE* held = fopencookie(nullptr, "w", io);
  if (held == nullptr) return;  // nothing is hidden rather than an error lost
  std::fflush(stdout);
  console = stdout;
  stdout = held;  // glibc's stdout is a variable; printf, puts and putchar follow it
  std::atexit(&give_the_console_back);
}

bool console_is_quiet() { return console != nullptr; }

void console_error_begins() {
  if (console == nullptr) return;
  const int reason = errno;  // the stop's reason, still to be printed
  std::fflush(stdout);       // the progress still buffered goes where the rest went
  stdout = console;
  console = nullptr;
  errno = reason;
}

void console_run_ended() { run_ended = true; }

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
