#include <cstdlib>

#include "platform/env.h"

namespace quorvel {

std::optional<std::string> env_var(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace quorvel
