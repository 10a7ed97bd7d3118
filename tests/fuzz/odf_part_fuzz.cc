// content.xml or styles.xml of an OpenDocument file, through package_part_fuzz.h.

#include "package_part_fuzz.h"
#include "translation/doc/odf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz::fuzz_part(quorvel::ODF_PART, data, size);
}
