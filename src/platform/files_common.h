#pragma once
// What the per-platform file code shares.

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace quorvel {

/// "reading {path}: the file is larger than the {limit} limit".
std::unexpected<Error> too_large(const std::string& path, std::uint64_t max_bytes);

}  // namespace quorvel
