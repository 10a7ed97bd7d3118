// Subtitle files: parsing, then rendering with the source texts and with translations that
// get re-broken over the cue's lines.
// Checks: the rendered file parses again into as many cues.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "translation/doc/subtitles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto document = quorvel::split_subtitles(text);
  if (!document) return 0;
  const std::size_t cues = document->segments.size();

  quorvel::Translations translated;
  for (std::size_t i = 0; i < cues; ++i) {
    if (i % 3 == 0)
      translated.emplace_back();
    else if (i % 3 == 1)
      translated.emplace_back("one two three four five six seven");
    else
      translated.emplace_back(" line\n\n  other \n");
  }
  for (const auto& translations : {quorvel::Translations(cues), translated}) {
    auto again = quorvel::split_subtitles(quorvel::render_subtitles(*document, translations));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->segments.size() == cues);
  }
  return 0;
}
