#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "platform/env.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace quorvel {

namespace fs = std::filesystem;

#if defined(_WIN32)

// CreateFileW + GetFinalPathNameByHandleW and GetModuleFileNameW are not built yet.
Result<fs::path> canonical_path(const fs::path& path) {
  std::error_code ec;
  fs::path result = fs::canonical(path, ec);
  if (ec) return fail(ErrorKind::not_found, ec.message(), ec.message());
  return result;
}

std::optional<fs::path> executable_path() {
  return std::nullopt;
}

#else

Result<fs::path> canonical_path(const fs::path& path) {
  const std::string& native = path.native();
  // realpath would silently cut the path at an interior NUL and resolve a different one.
  if (native.find('\0') != std::string::npos) {
    std::string text = std::strerror(EINVAL);
    return fail(ErrorKind::invalid_argument, text, text);
  }
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(native.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) {
    std::string text = std::strerror(errno);
    return fail(ErrorKind::not_found, text, text);
  }
  return fs::path(resolved.get());
}

std::optional<fs::path> executable_path() {
#if defined(__linux__)
  std::error_code ec;
  fs::path path = fs::read_symlink("/proc/self/exe", ec);
  if (ec || path.empty()) return std::nullopt;
  return path;
#else
  return std::nullopt;  // macOS (_NSGetExecutablePath) is not built yet
#endif
}

#endif

bool path_exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::status(path, ec));
}

bool is_regular_file_at(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::status(path, ec));
}

bool is_directory_at(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(fs::status(path, ec));
}

std::optional<fs::path> user_data_dir() {
  if (auto local = env_var("LOCALAPPDATA")) return fs::path(*local);
  if (auto xdg = env_var("XDG_DATA_HOME"); xdg && fs::path(*xdg).is_absolute()) {
    return fs::path(*xdg);
  }
  if (auto home = env_var("HOME"); home && !home->empty()) {
    return fs::path(*home) / ".local" / "share";
  }
  return std::nullopt;
}

}  // namespace quorvel
