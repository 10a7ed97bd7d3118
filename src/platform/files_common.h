#pragma once
// What the per-platform file code shares.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quorvel {

/// "reading {path}: the file is larger than the {limit} limit".
std::unexpected<Error> too_large(const std::string& path, std::uint64_t max_bytes);

/// Temporary files of ours untouched for this long belong to a write that was killed: a live
/// write touches its file every few seconds (the package writer's own temporary file), or is
/// done within seconds.
inline constexpr std::chrono::minutes STALE_TEMPORARY_AGE{15};

/// Whether `name` is one of our temporary files (".<name>.tmp-<8 letters or digits>") or the
/// one libzip makes beside it (the same with "." and 6 to 8 letters or digits added).
bool is_temporary_file_name(std::string_view name);

/// Removes the temporary files of ours in `directory` that a killed write left behind: regular
/// files with our names, untouched for STALE_TEMPORARY_AGE. Failures are ignored: the files
/// are hidden and harmless, only clutter.
void remove_stale_temporaries(const std::filesystem::path& directory);

}  // namespace quorvel
