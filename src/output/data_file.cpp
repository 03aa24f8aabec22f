// Checked flush and close of data files; see data_file.h.
#include "output/data_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/fatal.h"

namespace {

constexpr std::size_t TAIL_BLOCK = 4096;  // bytes read at a time in search of the last line end

// Cuts a regular file back to the end of its last complete line. A write that
// failed part way (a full disk, a file-size limit) leaves the start of a
// line, which a reader would take for a number: 2.304180 g/s from
// 2.304180e+18. The stream's unwritten rest is dropped so that the exit's
// flush cannot add it again.
void keep_whole_lines(FILE* stream) {
  __fpurge(stream);
  const int fd = fileno(stream);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  char block[TAIL_BLOCK];
  off_t end = st.st_size;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(TAIL_BLOCK) ? end - static_cast<off_t>(TAIL_BLOCK) : 0;
    const std::size_t size = static_cast<std::size_t>(end - start);
    if (pread(fd, block, size, start) != static_cast<ssize_t>(size)) return;  // unreadable: left as it is
    for (std::size_t i = size; i > 0; --i) {
      if (block[i - 1] == '\n') {
        (void)ftruncate(fd, start + static_cast<off_t>(i));
        return;
      }
    }
    end = start;
  }
  (void)ftruncate(fd, 0);
}

[[noreturn]] void stop_on_write_error(const char* name, int error) {
  console_error_begins();
  std::printf("Cannot write file %s: %s\n", name, std::strerror(error));
  std::fflush(stdout);
  std::exit(exit_status::write_error);
}

}  // namespace

void flush_data_file(FILE* stream, const char* name) {
  errno = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    const int error = errno != 0 ? errno : EIO;
    keep_whole_lines(stream);
    stop_on_write_error(name, error);
  }
}

void close_data_file(FILE* stream, const char* name) {
  flush_data_file(stream, name);
  errno = 0;
  if (std::fclose(stream) != 0) stop_on_write_error(name, errno != 0 ? errno : EIO);
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
    __fpurge(file.stream);  // nothing more of an unnamed file is written at the exit
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
