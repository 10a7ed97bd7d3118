#include "platform/paths.h"

#include <system_error>

#include "platform/env.h"

namespace quorvel {

namespace fs = std::filesystem;

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
  if (auto local = env_var("LOCALAPPDATA")) return path_from_utf8(*local);
  if (auto xdg = env_var("XDG_DATA_HOME"); xdg && path_from_utf8(*xdg).is_absolute()) {
    return path_from_utf8(*xdg);
  }
  if (auto home = env_var("HOME"); home && !home->empty()) {
    return path_from_utf8(*home) / ".local" / "share";
  }
  return std::nullopt;
}

}  // namespace quorvel
