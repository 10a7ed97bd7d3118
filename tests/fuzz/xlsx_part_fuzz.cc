// A shared-strings or worksheet part of a workbook, read also as comments and as threaded comments,
// through package_part_fuzz.h.

#include "package_part_fuzz.h"
#include "translation/doc/xlsx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzz::fuzz_part(quorvel::XLSX_COMMENTS_PART, data, size);
  quorvel::fuzz::fuzz_part(quorvel::XLSX_THREADED_PART, data, size);
  return quorvel::fuzz::fuzz_part(quorvel::XLSX_STRINGS_PART, data, size);
}
