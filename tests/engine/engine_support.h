#pragma once
// Shared by the engine tests: environment variables set for one test, where the fetched
// engine, the generated test models and the fake engines are, and which libraries the
// process has mapped.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::testing {

/// Sets or unsets environment variables for one scope and restores them afterwards.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

  ScopedEnv& set(const std::string& name, const std::string& value) {
    save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
    return *this;
  }

  ScopedEnv& unset(const std::string& name) {
    save(name);
    ::unsetenv(name.c_str());
    return *this;
  }

 private:
  void save(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

/// The engine that scripts/fetch-engine.sh lays out.
inline std::filesystem::path real_engine_dir() {
  return QUORVEL_SOURCE_DIR "/.cache/engine/lib";
}

/// A model that scripts/make-test-models.py writes.
inline std::filesystem::path test_model(const std::string& name) {
  return std::filesystem::path(QUORVEL_SOURCE_DIR "/.cache/models") / name;
}

inline std::filesystem::path fake_engine_dir(const std::string& variant) {
  return std::filesystem::path(QUORVEL_BINARY_DIR "/fake-engines") / variant;
}

/// Lines of /proc/self/maps that map a file under `dir`: empty once every library loaded
/// from there has been unloaded.
inline std::vector<std::string> mappings_under(const std::filesystem::path& dir) {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::string> found;
  std::string needle = dir.string() + "/";
  for (std::string line; std::getline(maps, line);) {
    if (line.find(needle) != std::string::npos) found.push_back(line);
  }
  return found;
}

}  // namespace quorvel::testing

/// Skips a test that needs the fetched engine and the generated models when they are not
/// there, except under CI, where their absence is a failure of the set-up scripts.
#define QUORVEL_REQUIRE_REAL_ENGINE(...)                                                       \
  do {                                                                                         \
    for (const std::filesystem::path& required_ :                                              \
         {::quorvel::testing::real_engine_dir() / "libllama.so" __VA_OPT__(, ) __VA_ARGS__}) { \
      if (!std::filesystem::exists(required_)) {                                               \
        if (std::getenv("CI") != nullptr) {                                                    \
          FAIL() << required_                                                                  \
                 << " is missing: scripts/test.sh runs scripts/fetch-engine.sh "               \
                    "and scripts/make-test-models.py first";                                   \
        }                                                                                      \
        GTEST_SKIP() << required_                                                              \
                     << " is missing: run scripts/fetch-engine.sh and "                        \
                        "/usr/bin/python3 scripts/make-test-models.py";                        \
      }                                                                                        \
    }                                                                                          \
  } while (0)
