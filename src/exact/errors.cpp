// The errors' shared helpers: message texts and refusals naming the parameter.
#include "exact/errors.h"

#include <cstdarg>
#include <cstdio>

namespace velmora {

std::string message_text(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

void refuse(const char* parameter, const std::string& why) { throw invalid_parameter(parameter, why); }

}  // namespace velmora
