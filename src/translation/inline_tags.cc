#include "translation/inline_tags.h"

#include <fmt/core.h>

#include <optional>
#include <unordered_map>

namespace quorvel {
namespace {

// Reads the decimal number at text[pos...]; no leading zero, at most MAX_INLINE_TAG_ID.
std::optional<std::size_t> read_id(std::string_view text, std::size_t& pos) {
  std::size_t begin = pos;
  std::size_t id = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    id = id * 10 + static_cast<std::size_t>(text[pos] - '0');
    ++pos;
    if (id > MAX_INLINE_TAG_ID) return std::nullopt;
  }
  if (pos == begin || (text[begin] == '0')) return std::nullopt;
  return id;
}

// The tag starting at text[at] ('<'), or nothing when the bytes there are no tag.
std::optional<InlinePiece> tag_at(std::string_view text, std::size_t at) {
  std::size_t pos = at + 1;
  InlineKind kind = InlineKind::open;
  if (pos < text.size() && text[pos] == '/') {
    kind = InlineKind::close;
    ++pos;
  }
  if (pos >= text.size()) return std::nullopt;
  char letter = text[pos++];
  if (letter == 'x' && kind == InlineKind::open) {
    kind = InlineKind::placeholder;
  } else if (letter != 'g') {
    return std::nullopt;
  }
  auto id = read_id(text, pos);
  if (!id) return std::nullopt;
  std::string_view end = kind == InlineKind::placeholder ? "/>" : ">";
  if (text.substr(pos, end.size()) != end) return std::nullopt;
  pos += end.size();
  return InlinePiece{kind, text.substr(at, pos - at), *id};
}

}  // namespace

std::string open_tag(std::size_t id) {
  return fmt::format("<g{}>", id);
}

std::string close_tag(std::size_t id) {
  return fmt::format("</g{}>", id);
}

std::string placeholder_tag(std::size_t id) {
  return fmt::format("<x{}/>", id);
}

std::vector<InlinePiece> parse_inline_tags(std::string_view text) {
  std::vector<InlinePiece> pieces;
  std::size_t text_begin = 0;
  std::size_t pos = 0;
  while ((pos = text.find('<', pos)) != std::string_view::npos) {
    auto tag = tag_at(text, pos);
    if (!tag) {
      ++pos;
      continue;
    }
    if (pos > text_begin) {
      pieces.push_back({InlineKind::text, text.substr(text_begin, pos - text_begin), 0});
    }
    pieces.push_back(*tag);
    pos += tag->text.size();
    text_begin = pos;
  }
  if (text_begin < text.size()) {
    pieces.push_back({InlineKind::text, text.substr(text_begin), 0});
  }
  return pieces;
}

bool has_inline_tags(std::string_view text) {
  for (const auto& piece : parse_inline_tags(text)) {
    if (piece.kind != InlineKind::text) return true;
  }
  return false;
}

std::string strip_inline_tags(std::string_view text) {
  std::string out;
  for (const auto& piece : parse_inline_tags(text)) {
    if (piece.kind == InlineKind::text) out += piece.text;
  }
  return out;
}

bool keeps_inline_tags(std::string_view source, std::string_view answer) {
  // Each source tag, by kind and number, with whether the answer has used it yet.
  auto key = [](const InlinePiece& piece) {
    return piece.id * 4 + static_cast<std::size_t>(piece.kind);
  };
  std::unordered_map<std::size_t, bool> seen;
  for (const auto& piece : parse_inline_tags(source)) {
    if (piece.kind != InlineKind::text) seen.emplace(key(piece), false);
  }
  std::vector<std::size_t> open;  // numbers of the pairs opened and not yet closed
  std::size_t used = 0;
  for (const auto& piece : parse_inline_tags(answer)) {
    if (piece.kind == InlineKind::text) continue;
    auto it = seen.find(key(piece));
    if (it == seen.end() || it->second) return false;
    it->second = true;
    ++used;
    if (piece.kind == InlineKind::open) open.push_back(piece.id);
    if (piece.kind == InlineKind::close) {
      if (open.empty() || open.back() != piece.id) return false;
      open.pop_back();
    }
  }
  return used == seen.size() && open.empty();
}

std::string restore_inline_tags(std::string_view answer, const std::vector<TagMarkup>& markup) {
  std::string out;
  for (const auto& piece : parse_inline_tags(answer)) {
    if (piece.kind == InlineKind::text || piece.id > markup.size()) {
      out += piece.text;
    } else if (piece.kind == InlineKind::close) {
      out += markup[piece.id - 1].close;
    } else {
      out += markup[piece.id - 1].open;
    }
  }
  return out;
}

std::size_t TagBuilder::open(std::string_view open, std::string_view close) {
  tagged_.markup.push_back({std::string(open), std::string(close)});
  std::size_t id = tagged_.markup.size();
  tagged_.text += open_tag(id);
  ++tags_written_;
  return id;
}

void TagBuilder::close(std::size_t id) {
  tagged_.text += close_tag(id);
  ++tags_written_;
}

void TagBuilder::placeholder(std::string_view markup) {
  tagged_.markup.push_back({std::string(markup), {}});
  tagged_.text += placeholder_tag(tagged_.markup.size());
  ++tags_written_;
}

TaggedText TagBuilder::finish(std::string_view plain) && {
  std::size_t found = 0;
  for (const auto& piece : parse_inline_tags(tagged_.text)) {
    if (piece.kind != InlineKind::text) ++found;
  }
  if (tagged_.markup.empty() || found != tags_written_ ||
      tagged_.markup.size() > MAX_INLINE_TAG_ID) {
    return {std::string(plain), {}};
  }
  return std::move(tagged_);
}

}  // namespace quorvel
