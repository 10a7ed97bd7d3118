// Plain text and Markdown: parsing, then rendering with the source texts and with bracketed
// translations.
// Checks: the rendered text parses again into as many paragraphs, and rendering the source
// texts twice gives the same text (the first rendering already normalised line ends). Read as
// Markdown, a file whose segments are all kept comes back as it was, line ends aside, and
// answers that keep the inline tags render into a file that reads again.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/text.h"
#include "translation/doc/plain_text.h"

namespace {

void check_markdown(std::string_view text) {
  auto document = quorvel::split_markdown(text);
  if (!document) return;
  std::string lines;
  std::size_t pos = 0;
  while (auto line = quorvel::next_line(text, pos)) {
    lines += *line;
    lines += '\n';
  }
  const std::size_t count = document->segments.size();
  FUZZ_CHECK(quorvel::render_plain_text(*document, quorvel::Translations(count)) == lines);
  quorvel::Translations kept_tags;
  for (const auto& segment : document->segments) kept_tags.emplace_back("x " + segment.text);
  FUZZ_CHECK(quorvel::split_markdown(quorvel::render_plain_text(*document, kept_tags)).has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  check_markdown(text);
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
