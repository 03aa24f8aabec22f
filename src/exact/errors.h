// Errors of the exact solution: every refusal names the parameter and its value.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

// A model quantity that the solution cannot use. `parameter()` is the
// keyword of the parameter file (or the argument name of an evaluation,
// such as "t"); what() is one line: "<parameter> = <value> <reason>".
class invalid_parameter : public std::invalid_argument {
 public:
  invalid_parameter(std::string parameter, const std::string& message)
      : std::invalid_argument(message), parameter_(std::move(parameter)) {}
  const std::string& parameter() const noexcept { return parameter_; }

 private:
  std::string parameter_;
};

// A computation that cannot reach its accuracy (for example a time so close
// to a change of the supply that more Bessel modes would be needed than the
// solution allows).
class solution_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// printf-style text of an error message (at most 511 bytes).
std::string message_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Throws invalid_parameter naming `parameter`.
[[noreturn]] void refuse(const char* parameter, const std::string& why);

}  // namespace velmora
