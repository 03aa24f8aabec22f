// Opening files with a name check, and the registry of every file opened.
//
// The registry __outfilenames grows by "name (mode);\n" per file while the
// entry fits its 5999 characters; an entry that does not fit is dropped
// silently, and each later entry is tested on its own.
#include "output/registered_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/settings.h"
#include "output/fatal.h"

namespace {

constexpr std::size_t ENTRY_DECORATION = 5;  // " (", ");" and the newline
constexpr int LOCK_ATTEMPTS = 3;             // tries of the rate file's lock while its holder is ending

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

void check_name_length(const char* name) {
  if (std::strlen(name) >= NAME_CAPACITY) {
    console_error_begins();
    std::printf("File name is too long: %s\n", name);
    err_m(exit_status::file);
  }
  std::snprintf(__filename.data(), __filename.size(), "%s", name);
}

// The line names the system's reason: errno of the failed call.
[[noreturn]] void stop_cannot_open(const char* name) {
  console_error_begins();
  std::printf(" Cannot open file %s: %s\n", name, std::strerror(errno != 0 ? errno : EIO));
  err_m(exit_status::file);
}

// The process that holds a lock on the whole of fd, or 0 when none does (any more).
pid_t lock_holder(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return 0;
  return probe.l_pid;
}

// The process holding a whole-file lock (flock) on the inode `inode`, from
// the kernel's table of locks; 0 when it is not found.
pid_t flock_holder(ino_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, device;
    long pid = 0;
    if (!(fields >> number >> kind >> advisory >> mode >> pid >> device) || kind != "FLOCK") continue;
    const std::size_t colon = device.rfind(':');
    if (colon != std::string::npos && std::strtoull(device.c_str() + colon + 1, nullptr, 10) == inode)
      return static_cast<pid_t>(pid);
  }
  return 0;
}

// Stops as open_locked_file does when another process holds `name` locked.
void refuse_if_locked(const char* name) {
  const int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const pid_t holder = lock_holder(fd);
  close(fd);
  if (holder == 0) return;
  console_error_begins();
  std::printf(" Cannot open file %s: another run (process %ld) is writing it\n", name, static_cast<long>(holder));
  err_m(exit_status::file);
}

}  // namespace

void reserve_snapshot_names(const char* rate_name) {
  // Held open, and so locked, until the process ends.
  const int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;  // the opens of the data files report an unusable folder
  for (int attempt = 0; flock(folder, LOCK_EX | LOCK_NB) != 0; ++attempt) {
    if (errno != EWOULDBLOCK) {  // no locks on this file system
      close(folder);
      return;
    }
    refuse_if_locked(rate_name);
    struct stat st {};
    const pid_t holder = fstat(folder, &st) == 0 ? flock_holder(st.st_ino) : 0;
    if (holder == 0 && attempt < LOCK_ATTEMPTS) continue;  // the holder just ended
    console_error_begins();
    std::printf(" Cannot write the profiles F_x<i>.dat: another run (process %ld) is writing its own in this "
                "folder\n",
                static_cast<long>(holder));
    err_m(exit_status::file);
  }
  struct stat snapshot {}, rate {};
  if (stat("F_x0.dat", &snapshot) != 0) return;
  const bool rate_exists = stat(rate_name, &rate) == 0;
  if (!rate_exists || snapshot.st_mtim.tv_sec > rate.st_mtim.tv_sec ||
      (snapshot.st_mtim.tv_sec == rate.st_mtim.tv_sec && snapshot.st_mtim.tv_nsec > rate.st_mtim.tv_nsec))
    std::fprintf(stderr,
                 "warning: F_x0.dat here was written by another run (it is newer than %s); this run replaces its "
                 "profiles F_x<i>.dat\n",
                 rate_name);
}

FILE* open_registered_file(const char* name, const char* mode) {
  check_name_length(name);
  errno = 0;
  FILE* stream = std::fopen(__filename.data(), mode);
  if (stream == nullptr) stop_cannot_open(name);
  register_file(mode);
  return stream;
}

FILE* open_locked_file(const char* name) {
  check_name_length(name);
  errno = 0;
  // Not O_TRUNC: the file may belong to a run that is still writing it.
  const int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) stop_cannot_open(name);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;  // l_start = l_len = 0: the whole file, however long it grows
  // A holder that ends between the attempt and the question frees the file: try again.
  for (int attempt = 0; fcntl(fd, F_SETLK, &whole) != 0 && (errno == EACCES || errno == EAGAIN); ++attempt) {
    const pid_t holder = lock_holder(fd);
    if (holder == 0 && attempt < LOCK_ATTEMPTS) continue;
    console_error_begins();
    std::printf(" Cannot open file %s: another run (process %ld) is writing it\n", name, static_cast<long>(holder));
    err_m(exit_status::file);
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) stop_cannot_open(name);
  FILE* stream = fdopen(fd, "w+");
  if (stream == nullptr) stop_cannot_open(name);
  register_file("w+");
  return stream;
}

pending_file open_pending_file(const char* name) {
  check_name_length(name);
  pending_file file;
  file.name = name;
  struct stat existing {};
  if (lstat(name, &existing) == 0 && !S_ISREG(existing.st_mode)) {
    file.in_place = true;
    file.stream = open_registered_file(name, "w+");
    return file;
  }
  const char* slash = std::strrchr(name, '/');
  if (slash != nullptr) file.folder.assign(name, slash + 1);
  // An unnamed file in the target's folder: a run killed while writing it leaves nothing.
  int fd = open(file.folder.empty() ? "." : file.folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    file.temporary = file.folder + "velmora-" + std::to_string(getpid()) + ".tmp";
    fd = open(file.temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) stop_cannot_open(name);
  file.stream = fdopen(fd, "w+");
  if (file.stream == nullptr) stop_cannot_open(name);
  register_file("w+");
  return file;
}
