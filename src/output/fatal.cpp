// The numbered fatal stop and the refusal of an invalid model.
#include "output/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

// Short description per error code; at most 199 characters each.
const char* describe(int code) {
  switch (code) {
    case exit_status::file: return "file name too long or file cannot be opened";
    case exit_status::allocation: return "memory allocation failed";
    default: return "";
  }
}

}  // namespace

void err_m(int i) {
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
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::exit(exit_status::invalid_model);
}
