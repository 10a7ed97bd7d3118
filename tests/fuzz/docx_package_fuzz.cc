// Whole DOCX packages, seeded with small real ones: extraction, write-back to a file, and
// reading the written copy.
// Checks: a failed write leaves nothing behind; a written copy holds the same entries in the
// same order, and extraction reads its text parts again.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "package_entries.h"
#include "translation/doc/docx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  const std::string& dir = quorvel::fuzz::scratch_dir();
  const std::string input = dir + "/in.docx";
  const std::string output = dir + "/out.docx";
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  auto document = quorvel::extract_docx(input);
  if (document) {
    quorvel::Translations translations;
    for (std::size_t i = 0; i < document->segments.size(); ++i) {
      if (i % 2 == 0)
        translations.emplace_back("T<&>" + std::to_string(i));
      else
        translations.emplace_back();
    }
    auto written = quorvel::write_docx(*document, translations, output);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
    FUZZ_CHECK(files == (written ? 2u : 1u));
    if (written) {
      auto copied = quorvel::fuzz::entry_names(output, "docx", quorvel::DOCX_LIMITS);
      FUZZ_CHECK(copied == quorvel::fuzz::entry_names(input, "docx", quorvel::DOCX_LIMITS));
      auto reread = quorvel::extract_docx(output);
      FUZZ_CHECK(reread.has_value() || reread.error().kind == quorvel::ErrorKind::limit);
    }
  }
  fs::remove(input);
  fs::remove(output);
  return 0;
}
