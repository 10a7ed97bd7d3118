// A slide or notes part of a presentation, through package_part_fuzz.h.

#include "package_part_fuzz.h"
#include "translation/doc/pptx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz::fuzz_part(quorvel::PPTX_SLIDE_PART, data, size);
}
