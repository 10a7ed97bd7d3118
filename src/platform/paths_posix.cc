#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "platform/paths.h"

namespace quorvel {

namespace fs = std::filesystem;

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

fs::path path_from_utf8(std::string_view utf8) {
  return fs::path(utf8);
}

std::string path_to_utf8(const fs::path& path) {
  return path.string();
}

}  // namespace quorvel
