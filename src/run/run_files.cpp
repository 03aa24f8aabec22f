// Data-file names, the run-name check and the guard of the parameter file;
// see run_files.h.
#include "run/run_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <unistd.h>

#include "model/settings.h"

namespace {

constexpr char RATE_PREFIX[] = "mdotin_";
constexpr char DATA_SUFFIX[] = ".dat";
// The longest name a run forms from NAME is the rate file's.
constexpr std::size_t RATE_DECORATION = sizeof RATE_PREFIX - 1 + sizeof DATA_SUFFIX - 1;
constexpr int SHOWN_PREFIX = 40;  // characters of an overlong name quoted in the refusal

// Bytes in one file name of the current folder's file system (255 on the usual ones).
std::size_t folder_name_max() {
  errno = 0;
  const long n = pathconf(".", _PC_NAME_MAX);
  return n > 0 ? static_cast<std::size_t>(n) : NAME_MAX;
}

// "F_x<i>.dat" as snapshot_name(i) forms it, for some 0 <= i < NUM_TIME.
bool is_snapshot_of_this_run(const char* entry) {
  if (save < 1 || std::strncmp(entry, "F_x", 3) != 0) return false;
  const char* digits = entry + 3;
  if (!(digits[0] >= '1' && digits[0] <= '9') && !(digits[0] == '0' && digits[1] == '.')) return false;
  char* end = nullptr;
  errno = 0;
  const long i = std::strtol(digits, &end, 10);
  return errno == 0 && std::strcmp(end, DATA_SUFFIX) == 0 && i < NUM_TIME;
}

}  // namespace

std::string rate_file_name() { return RATE_PREFIX + std::string(NAME.data()) + DATA_SUFFIX; }
std::string initial_profile_name() { return "F_x_" + std::string(NAME.data()) + DATA_SUFFIX; }
std::string snapshot_name(int ti) { return "F_x" + std::to_string(ti) + DATA_SUFFIX; }

bool check_run_name(refusal_text& why) {
  const char* name = NAME.data();
  if (std::strchr(name, '/') != nullptr)
    return refuse(why, "Invalid model: name = %.*s contains '/': a run writes its files only into the current folder",
                  SHOWN_PREFIX, name);
  for (std::size_t i = 0; name[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f)
      return refuse(why, "Invalid model: name holds the control character 0x%02x at position %zu", c, i + 1);
  }
  const std::size_t limit = folder_name_max();
  const std::size_t length = std::strlen(name);
  if (length + RATE_DECORATION > limit)
    return refuse(why,
                  "Invalid model: name = %.*s... has %zu bytes; file names here hold at most %zu, so with \"%s\" and "
                  "\"%s\" a run name may have at most %zu",
                  SHOWN_PREFIX, name, length, limit, RATE_PREFIX, DATA_SUFFIX, limit - RATE_DECORATION);
  return true;
}

std::string data_file_over_parameter_file(const struct stat& parameter_file) {
  const std::string rate = rate_file_name();
  const std::string initial = initial_profile_name();
  std::string clash;
  DIR* folder = opendir(".");
  if (folder == nullptr) return clash;  // nothing to compare with; the opens report an unusable folder
  while (const dirent* entry = readdir(folder)) {
    const char* name = entry->d_name;
    if (rate != name && initial != name && !is_snapshot_of_this_run(name)) continue;
    struct stat data_file {};
    if (stat(name, &data_file) != 0) continue;
    if (data_file.st_dev == parameter_file.st_dev && data_file.st_ino == parameter_file.st_ino) {
      clash = name;
      break;
    }
  }
  closedir(folder);
  return clash;
}

void refuse_overwriting_parameter_file(const struct stat& parameter_file) {
  const std::string clash = data_file_over_parameter_file(parameter_file);
  if (clash.empty()) return;
  console_error_begins();
  std::printf("The data file %s is the parameter file %s: refusing to overwrite it\n", clash.c_str(), filename.data());
  err_m(exit_status::file);
}
