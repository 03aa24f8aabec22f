// Opening files with a name check, and the registry of every file opened.
//
// The registry __outfilenames grows by "name (mode);\n" per file while the
// entry fits its 5999 characters; an entry that does not fit is dropped
// silently, and each later entry is tested on its own.
#include "output/registered_file.h"

#include <cerrno>
#include <cstring>

#include "output/fatal.h"
#include "run/settings.h"

namespace {

constexpr std::size_t ENTRY_DECORATION = 5;  // " (", ");" and the newline

void register_file(const char* mode) {
  const std::size_t used = std::strlen(__outfilenames.data());
  const std::size_t name_length = std::strlen(__filename.data());
  if (used + name_length + std::strlen(mode) + ENTRY_DECORATION > REGISTRY_CAPACITY - 1) return;
  char* end = __outfilenames.data() + used;
  auto append = [&end](const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(end, text, n);
    end += n;
  };
  append(__filename.data());
  append(" (");
  append(mode);
  append(");\n");
  *end = '\0';
}

}  // namespace

FILE* open_registered_file(const char* name, const char* mode) {
  if (std::strlen(name) >= NAME_CAPACITY) {
    std::printf("File name is too long: %s\n", name);
    err_m(exit_status::file);
  }
  std::snprintf(__filename.data(), __filename.size(), "%s", name);
  errno = 0;
  FILE* stream = std::fopen(__filename.data(), mode);
  if (stream == nullptr) {
    std::printf(" Cannot open file %s: %s\n", name, std::strerror(errno != 0 ? errno : EIO));
    err_m(exit_status::file);
  }
  register_file(mode);
  return stream;
}
