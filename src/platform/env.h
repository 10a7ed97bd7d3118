#pragma once
// Environment variables, read when needed (never cached), as the raw bytes the system holds.

#include <optional>
#include <string>

namespace quorvel {

/// The value of variable `name`: nothing when unset, an empty string when set but empty.
std::optional<std::string> env_var(const char* name);

}  // namespace quorvel
