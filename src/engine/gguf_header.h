#pragma once
// The few facts a GGUF file states about itself in its header, read without loading it.

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace quorvel {

struct GgufHeader {
  uint32_t version = 0;
  uint64_t tensor_count = 0;
  std::string architecture;  // "general.architecture", empty when absent
};

/// Reads the header of the GGUF file at `path`, scanning its key-value pairs for the
/// architecture. Fails with "{path} is not a GGUF file" when the magic is wrong or the header
/// is cut short or malformed.
Result<GgufHeader> read_gguf_header(const std::string& path);

}  // namespace quorvel
