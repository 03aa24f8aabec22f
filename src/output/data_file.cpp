// Checked flush and close of data files; see data_file.h.
#include "output/data_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

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

void install_pending_file(pending_file& file) {
  const char* name = file.name.c_str();
  if (file.in_place) {
    close_data_file(file.stream, name);
    return;
  }
  errno = 0;
  if (std::fflush(file.stream) != 0 || std::ferror(file.stream)) {
    const int error = errno != 0 ? errno : EIO;
    if (!file.temporary.empty()) (void)unlink(file.temporary.c_str());
    stop_on_write_error(name, error);
  }
  if (file.temporary.empty()) {
    // Give the unnamed file a temporary name beside its own: the replacement
    // below needs a name, and a rename is the one step that cannot leave half a file.
    file.temporary = file.folder + "velmora-" + std::to_string(getpid()) + ".tmp";
    const int fd = fileno(file.stream);
    (void)unlink(file.temporary.c_str());  // left by a killed run that had this process id
    if (linkat(fd, "", AT_FDCWD, file.temporary.c_str(), AT_EMPTY_PATH) != 0) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);  // without the privilege of AT_EMPTY_PATH
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
        stop_on_write_error(name, errno);
    }
  }
  if (std::rename(file.temporary.c_str(), name) != 0) {
    const int error = errno;
    (void)unlink(file.temporary.c_str());
    stop_on_write_error(name, error);
  }
  close_data_file(file.stream, name);
}
