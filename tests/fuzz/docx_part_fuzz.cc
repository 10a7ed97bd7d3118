// One XML part of a Word document: extraction, then write-back with the source texts and with
// translations full of characters XML must escape or cannot hold, and with answers that keep
// the inline tags.
// Checks: a part that could be read can always be rewritten, and the result is still a
// well-formed part that extraction reads again.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "translation/doc/docx.h"

namespace {

quorvel::Translations awkward_translations(std::size_t count) {
  quorvel::Translations translations;
  for (std::size_t i = 0; i < count; ++i) {
    switch (i % 4) {
      case 0:
        translations.emplace_back();  // absent: the source text goes back
        break;
      case 1:
        translations.emplace_back("<&>\"' ]]> \t\n" + std::to_string(i));
        break;
      case 2:
        translations.emplace_back("\x01 bad \xFF byte \xEF\xBF\xBE");
        break;
      default:
        translations.emplace_back("");
    }
  }
  return translations;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view xml(reinterpret_cast<const char*>(data), size);
  std::vector<quorvel::Segment> segments;
  auto slots = quorvel::extract_part(xml, segments);
  if (!slots) return 0;

  // Answers that keep every inline tag, so tagged paragraphs are rebuilt run by run.
  quorvel::Translations tagged;
  for (const auto& segment : segments) tagged.emplace_back("\n\t" + segment.text + " <&>");
  for (const auto& translations :
       {quorvel::Translations(segments.size()), awkward_translations(segments.size()), tagged}) {
    auto rewritten = quorvel::rewrite_part(xml, *slots, segments, translations);
    FUZZ_CHECK(rewritten.has_value());
    std::vector<quorvel::Segment> again;
    auto reread = quorvel::extract_part(*rewritten, again);
    FUZZ_CHECK(reread.has_value() || reread.error().kind == quorvel::ErrorKind::limit);
  }
  return 0;
}
