// Shared helpers of velmora's tests: relative comparison, temporary folders,
// running the built program, reading files, resetting the run's globals.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "model/settings.h"

namespace testing_support {

// |a - b| / max(|a|, |b|); 0 when both are 0; infinite when exactly one is
// NaN or infinite, or when they differ in a way no tolerance can accept.
inline double rel_diff(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return INFINITY;
  if (std::isinf(a) || std::isinf(b)) return a == b ? 0.0 : INFINITY;
  const double scale = std::fmax(std::fabs(a), std::fabs(b));
  if (scale == 0.0) return 0.0;
  return std::fabs(a - b) / scale;
}

inline ::testing::AssertionResult near_rel(double actual, double expected, double tol) {
  const double d = rel_diff(actual, expected);
  if (d <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "actual " << actual << " vs expected " << expected
                                       << ": relative difference " << d << " > " << tol;
}

// A fresh folder under the system's temporary directory, removed on destruction.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    if (made == nullptr) std::abort();
    path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct RunResult {
  int status;          // exit status, or 128 + signal when killed by a signal
  std::string output;  // standard output (and standard error)
};

// Runs `command` through the shell inside `dir`, standard input from /dev/null.
inline RunResult run_in(const std::filesystem::path& dir, const std::string& command) {
  const std::string full = "cd '" + dir.string() + "' && " + command + " < /dev/null 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  RunResult r{-1, ""};
  if (pipe == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  const int raw = pclose(pipe);
  if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw)) r.status = 128 + WTERMSIG(raw);
  return r;
}

// Runs the built velmora on `args` inside `dir`.
inline RunResult run_velmora(const std::filesystem::path& dir, const std::string& args) {
  return run_in(dir, std::string("'") + VELMORA_BINARY + "' " + args);
}

// Runs `body` in a forked child whose standard output goes to a file, and
// returns the child's exit status and what it printed. For the fatal paths,
// which print on standard output and end the process.
inline RunResult run_forked(const std::function<void()>& body) {
  char path[] = "/tmp/velmora-stdout-XXXXXX";
  const int fd = mkstemp(path);
  RunResult r{-1, ""};
  if (fd < 0) return r;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, STDOUT_FILENO);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(fd);
  if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  else if (WIFSIGNALED(raw)) r.status = 128 + WTERMSIG(raw);
  r.output = read_file(path);
  unlink(path);
  return r;
}

// Puts the run settings and utility globals back to their start values.
inline void reset_globals() { reset_run_settings(); }

}  // namespace testing_support
