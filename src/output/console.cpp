// Guarding the standard descriptors and checking the console; see console.h.
#include "output/console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "output/fatal.h"

void guard_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free descriptor: the one just found closed.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd) std::_Exit(exit_status::write_error);  // no /dev/null: nothing can be written safely
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Past a file-size limit (ulimit -f) a write fails with EFBIG, reported
  // like a full disk, instead of the process dying with a cut line.
  std::signal(SIGXFSZ, SIG_IGN);
}

bool console_written() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return true;
  // stdio drops the text of a failed write; the last flush usually still has
  // text of its own to fail on and so gives the reason.
  const char* reason = !flushed && errno != 0 ? std::strerror(errno) : "an earlier write failed";
  std::fprintf(stderr, "Cannot write the console output (standard output): %s\n", reason);
  return false;
}
