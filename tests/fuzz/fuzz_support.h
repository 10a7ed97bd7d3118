#pragma once
// What the fuzz targets share: a check that aborts with a message (a failed check is a
// finding, like a crash), and a scratch directory for targets that need files.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace quorvel::fuzz {

[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(condition)                               \
  do {                                                      \
    if (!(condition)) ::quorvel::fuzz::finding(#condition); \
  } while (0)

/// A directory of this process, in memory where the system has one, removed at exit. The
/// targets clear what they write there after each input.
class ScratchDir {
 public:
  ScratchDir() {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    path_ = base + "/quorvel-fuzz-XXXXXX";
    if (::mkdtemp(path_.data()) == nullptr) finding("mkdtemp");
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline const std::string& scratch_dir() {
  static const ScratchDir dir;
  return dir.path();
}

}  // namespace quorvel::fuzz
