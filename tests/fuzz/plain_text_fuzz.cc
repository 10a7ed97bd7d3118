// Plain text and Markdown: parsing, then rendering with the source texts and with bracketed
// translations.
// Checks: the rendered text parses again into as many paragraphs, and rendering the source
// texts twice gives the same text (the first rendering already normalised line ends).

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "translation/doc/plain_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto document = quorvel::split_plain_text(text);
  if (!document) return 0;
  const std::size_t paragraphs = document->segments.size();

  quorvel::Translations bracketed;
  for (const auto& segment : document->segments) bracketed.emplace_back("[" + segment.text + "]");
  for (const auto& translations : {quorvel::Translations(paragraphs), bracketed}) {
    auto again = quorvel::split_plain_text(quorvel::render_plain_text(*document, translations));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->segments.size() == paragraphs);
  }
  return 0;
}
