// The inline tag parser and the structure check: the input is a source text and an answer,
// split at the first NUL byte.
// Checks: the pieces put together give the text back; an answer that keeps the source's tags
// is itself well formed, and keeps them both ways when the source is well formed; restoring
// an accepted answer with each tag's own bytes as its markup gives the answer back.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "translation/inline_tags.h"

namespace {

using quorvel::InlineKind;

// Each tag's own bytes as its markup, or nothing when one number is used in two kinds.
std::optional<std::vector<quorvel::TagMarkup>> identity_markup(std::string_view source) {
  std::map<std::size_t, InlineKind> kinds;
  for (const auto& piece : quorvel::parse_inline_tags(source)) {
    if (piece.kind == InlineKind::text) continue;
    auto kind = piece.kind == InlineKind::close ? InlineKind::open : piece.kind;
    auto [it, inserted] = kinds.emplace(piece.id, kind);
    if (!inserted && it->second != kind) return std::nullopt;
  }
  if (!kinds.empty() && kinds.rbegin()->first > 4096) return std::nullopt;
  std::vector<quorvel::TagMarkup> markup(kinds.empty() ? 0 : kinds.rbegin()->first);
  for (auto [id, kind] : kinds) {
    markup[id - 1] = kind == InlineKind::placeholder
                         ? quorvel::TagMarkup{quorvel::placeholder_tag(id), {}}
                         : quorvel::TagMarkup{quorvel::open_tag(id), quorvel::close_tag(id)};
  }
  return markup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t split = input.find('\0');
  std::string_view source = input.substr(0, split);
  std::string_view answer = split == std::string_view::npos ? input : input.substr(split + 1);

  std::string joined;
  for (const auto& piece : quorvel::parse_inline_tags(source)) {
    joined += piece.text;
    if (piece.kind != InlineKind::text) {
      FUZZ_CHECK(piece.id >= 1 && piece.id <= quorvel::MAX_INLINE_TAG_ID);
    } else {
      FUZZ_CHECK(!piece.text.empty());
    }
  }
  FUZZ_CHECK(joined == source);
  FUZZ_CHECK(quorvel::strip_inline_tags(source).size() <= source.size());

  if (!quorvel::keeps_inline_tags(source, answer)) return 0;
  FUZZ_CHECK(quorvel::keeps_inline_tags(answer, answer));
  if (quorvel::keeps_inline_tags(source, source)) {
    FUZZ_CHECK(quorvel::keeps_inline_tags(answer, source));
  }
  if (auto markup = identity_markup(source)) {
    FUZZ_CHECK(quorvel::restore_inline_tags(answer, *markup) == answer);
  }
  return 0;
}
