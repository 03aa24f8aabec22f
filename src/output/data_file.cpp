// Checked flush and close of data files; see data_file.h.
#include "output/data_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output/fatal.h"

namespace {

[[noreturn]] void stop_on_write_error(const char* name, int error) {
  std::printf("Cannot write file %s: %s\n", name, std::strerror(error));
  std::fflush(stdout);
  std::exit(exit_status::write_error);
}

}  // namespace

void flush_data_file(FILE* stream, const char* name) {
  errno = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream)) stop_on_write_error(name, errno != 0 ? errno : EIO);
}

void close_data_file(FILE* stream, const char* name) {
  errno = 0;
  const bool failed_before = std::ferror(stream) != 0;
  const int status = std::fclose(stream);
  if (failed_before || status != 0) stop_on_write_error(name, errno != 0 ? errno : EIO);
}
