// Whole slide decks, workbooks and OpenDocument files: the first byte picks the format
// (pptx, xlsx, odt, ods, odp), the rest is the package. Parsed through the format table,
// written back with translations, and the written copy parsed again.
// Checks: a failed write leaves nothing behind; a written copy holds the same entries in the
// same order and always lists (no entry past the zip-bomb ratio), and parses again unless a
// grown part meets a limit.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "package_entries.h"
#include "translation/doc/document.h"
#include "translation/doc/formats.h"

namespace {

constexpr std::array<std::string_view, 5> EXTENSIONS = {"pptx", "xlsx", "odt", "ods", "odp"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  if (size == 0) return 0;
  const std::string_view extension = EXTENSIONS[data[0] % EXTENSIONS.size()];
  const std::string& dir = quorvel::fuzz::scratch_dir();
  const std::string input = dir + "/in." + std::string(extension);
  const std::string output = dir + "/out." + std::string(extension);
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
  }

  const quorvel::FileFormat* format = quorvel::format_for_extension(extension);
  FUZZ_CHECK(format != nullptr);
  auto document = format->parse(input);
  if (document) {
    const auto& segments = quorvel::document_segments(*document);
    quorvel::Translations translations;
    for (std::size_t i = 0; i < segments.size(); ++i) {
      if (i % 3 == 0)
        translations.emplace_back("T<&>\"" + std::to_string(i));
      else if (i % 3 == 1)
        translations.emplace_back(segments[i].text + " " + segments[i].text);
      else
        translations.emplace_back();
    }
    auto written = quorvel::write_document(*document, translations, output);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
    FUZZ_CHECK(files == (written ? 2u : 1u));
    if (written) {
      const auto& package = std::get<quorvel::PackageDocument>(*document);
      const auto& kind = *package.format;
      FUZZ_CHECK(quorvel::fuzz::entry_names(output, kind.kind, kind.limits) ==
                 quorvel::fuzz::entry_names(input, kind.kind, kind.limits));
      auto reread = format->parse(output);
      FUZZ_CHECK(reread.has_value() || reread.error().kind == quorvel::ErrorKind::limit);
    }
  }
  fs::remove(input);
  fs::remove(output);
  return 0;
}
