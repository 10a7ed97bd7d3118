#pragma once
// One XML part of a slide deck, a workbook or an OpenDocument file through its part reader:
// extraction, then write-back with no translations, with translations full of characters XML
// must escape or cannot hold, and with answers that keep the inline tags.
// Checks: a part that could be read can always be rewritten; the result is still a part the
// reader reads again; without any translation it is the part itself, byte for byte.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "translation/doc/package/package.h"

namespace quorvel::fuzz {

inline Translations awkward_translations(std::size_t count) {
  Translations translations;
  for (std::size_t i = 0; i < count; ++i) {
    switch (i % 4) {
      case 0:
        translations.emplace_back();
        break;
      case 1:
        translations.emplace_back("<&>\"' ]]>  \t\n " + std::to_string(i));
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

inline int fuzz_part(const PartReader& reader, const std::uint8_t* data, std::size_t size) {
  std::string_view xml(reinterpret_cast<const char*>(data), size);
  std::vector<Segment> segments;
  auto slots = reader.extract(xml, segments);
  if (!slots) return 0;

  Translations tagged;
  for (const auto& segment : segments) tagged.emplace_back("\n\t " + segment.text + "  <&>");
  Translations kept(segments.size());
  for (const auto* translations : {&kept, &tagged}) {
    auto rewritten = reader.rewrite(xml, *slots, segments, *translations);
    FUZZ_CHECK(rewritten.has_value());
    if (translations == &kept) FUZZ_CHECK(*rewritten == xml);
    std::vector<Segment> again;
    auto reread = reader.extract(*rewritten, again);
    FUZZ_CHECK(reread.has_value() || reread.error().kind == ErrorKind::limit);
  }
  auto awkward = reader.rewrite(xml, *slots, segments, awkward_translations(segments.size()));
  FUZZ_CHECK(awkward.has_value());
  std::vector<Segment> again;
  auto reread = reader.extract(*awkward, again);
  FUZZ_CHECK(reread.has_value() || reread.error().kind == ErrorKind::limit);
  return 0;
}

}  // namespace quorvel::fuzz
