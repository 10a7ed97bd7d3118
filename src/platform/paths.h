#pragma once
// File-system paths as the operating system sees them: canonical forms, the running
// program's own path, metadata queries that never fail loudly, and per-user directories.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quorvel {

/// The absolute path of an existing entry with every link resolved. On failure the message
/// is the system's description (for example "No such file or directory").
Result<std::filesystem::path> canonical_path(const std::filesystem::path& path);

/// A path given as UTF-8 text (a tool argument, an environment variable), and back. Linux
/// paths are bytes and pass unchanged; Windows paths are UTF-16.
std::filesystem::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const std::filesystem::path& path);

/// The running executable's path, or nothing when the system cannot tell.
std::optional<std::filesystem::path> executable_path();

/// Whether a metadata query on `path` succeeds: any kind of entry, links followed. A query
/// that fails for any reason counts as absent.
bool path_exists(const std::filesystem::path& path);

/// Whether `path` is a regular file or a directory, links followed; a failing query is false.
bool is_regular_file_at(const std::filesystem::path& path);
bool is_directory_at(const std::filesystem::path& path);

/// The per-user application data directory: `LOCALAPPDATA` when set (even empty), otherwise
/// `XDG_DATA_HOME` when it is an absolute path, otherwise `$HOME/.local/share`. Nothing when
/// none of these is available.
std::optional<std::filesystem::path> user_data_dir();

}  // namespace quorvel
