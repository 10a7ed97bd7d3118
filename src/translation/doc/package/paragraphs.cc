#include "translation/doc/package/paragraphs.h"

#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>

#include "platform/text.h"
#include "translation/doc/package/xml.h"
#include "translation/inline_tags.h"

namespace quorvel {
namespace {

// Beyond this many pieces and elements a paragraph is left as it is: no real paragraph has
// as many formatting changes, and the tagging work stays bounded.
constexpr std::size_t MAX_TAGGED_ENTRIES = 1000;
constexpr std::size_t MAX_SPAN_DEPTH = 64;

bool listed(std::span<const std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

const BreakElement* find_break(const ParagraphVocabulary& vocabulary, std::string_view name) {
  for (const auto& b : vocabulary.breaks) {
    if (b.name == name) return &b;
  }
  return nullptr;
}

// Text wrapped in one markup: `prefix` + text + `suffix`. A neutral piece (a line break
// between runs) has no markup: it is a character of the text, written in whatever wrapping
// surrounds it.
struct Piece {
  std::string prefix;
  std::string suffix;
  std::string text;
  bool neutral = false;
};

// A piece or a placeholder element, in paragraph order.
struct Entry {
  bool object = false;
  std::size_t index = 0;  // into pieces or objects
};

// A direct child of the paragraph (or a stretch of its character data) that a rewrite
// replaces; it holds entries [first_entry, end_entry).
struct ContentItem {
  ByteSpan span;
  std::size_t first_entry = 0;
  std::size_t end_entry = 0;
};

struct Paragraph {
  std::size_t ordinal = 0;  // its slot
  std::size_t begin = 0;    // where its start tag begins
  std::string text;         // the segment text, tagged when `tags` is not empty
  std::vector<Piece> pieces;
  std::vector<Entry> entries;
  std::vector<ByteSpan> objects;
  std::vector<ContentItem> content;
  std::string break_markup;  // the first line break between runs, to reuse
  // Filled by finish():
  std::size_t region_begin = 0;  // content items rewritten: [region_begin, region_end)
  std::size_t region_end = 0;
  std::string main_prefix;  // the wrapping of untagged text
  std::string main_suffix;
  std::vector<std::size_t> tags;  // tag n: index n - 1 into entries (a piece or an object)
  bool ok = true;                 // false: left as it is
};

enum class Role { none, paragraph, run, text, span, line_break, object, ignored, skipped };

struct Open {
  std::string name;
  Role role = Role::none;
  ByteSpan tag;
  bool also_object = false;  // a paragraph that is an element of the paragraph around it
};

std::string end_tag(std::string_view name) {
  return fmt::format("</{}>", name);
}

// `tag` with xml:space="preserve" in place of any xml:space of its own.
std::string preserving(std::string_view tag, std::string_view name) {
  std::string out = fmt::format("<{}", name);
  for (const auto& attribute : raw_attributes(tag)) {
    if (attribute.name == "xml:space") continue;
    out += fmt::format(" {}={}", attribute.name, attribute.quoted_value);
  }
  return out + " xml:space=\"preserve\">";
}

using OnParagraph = std::function<void(Paragraph&& paragraph)>;

class Scanner : public XmlHandler {
 public:
  Scanner(std::string_view xml, const ParagraphVocabulary& vocabulary, const OnParagraph& report)
      : xml_(xml), v_(vocabulary), report_(report) {}

  void start(std::string_view name, ByteSpan tag, bool self_closing) override {
    Open open{std::string(name), Role::none, tag, false};
    classify(open);
    if (self_closing) {
      close(open, tag);
    } else {
      stack_.push_back(std::move(open));
    }
  }

  void end(std::string_view, ByteSpan tag) override {
    if (stack_.empty()) return;
    Open open = std::move(stack_.back());
    stack_.pop_back();
    close(open, tag);
  }

  void text_at(std::string_view decoded, ByteSpan raw) override {
    if (open_.empty() || open_.back().quiet != 0 || skipped_ != 0) return;
    auto& state = open_.back();
    if (!v_.run.empty() || !v_.text.empty()) {
      if (!stack_.empty() && stack_.back().role == Role::text) state.text += decoded;
      return;
    }
    // Mixed content: character data belongs to the innermost span or to the paragraph.
    Paragraph& p = state.paragraph;
    if (state.spans.empty()) extend_loose_text(p, raw);
    append_text(p, decoded, false);
  }

  void text(std::string_view) override {}

  bool in_text() const override { return !stack_.empty() && stack_.back().role == Role::text; }

  std::size_t paragraphs() const { return next_ordinal_; }

 private:
  struct RunState {
    std::size_t begin = 0;
    std::optional<ByteSpan> text_tag;
    ByteSpan text_end;
    bool text_open = false;
    std::string text;
    bool broken = false;
  };

  struct OpenParagraph {
    Paragraph paragraph;
    std::size_t depth = 0;           // its element's depth in stack_
    std::size_t quiet = 0;           // depth inside an element whose content is not read here
    std::vector<std::string> spans;  // the open spans: names and start tags
    std::vector<std::string> span_tags;
    std::optional<RunState> run;
    bool in_text = false;    // inside a text element directly in the paragraph
    std::string text;        // of the text element being read
    bool last_space = true;  // collapsing: the text so far ends in white space (or is empty)
    std::optional<std::size_t> loose;  // the content item of character data being read
  };

  bool direct_child() const { return stack_.size() == open_.back().depth + 1; }

  void classify(Open& open) {
    const std::string_view name = open.name;
    // Inside a paragraph's own content such an element is kept whole like any other.
    const bool in_content = !open_.empty() && open_.back().quiet == 0;
    if (skipped_ != 0 || (v_.skip != nullptr && !in_content && v_.skip(name, bytes(open.tag)))) {
      open.role = Role::skipped;
      ++skipped_;
      return;
    }
    if (listed(v_.paragraphs, name)) {
      // A paragraph directly inside another (not within one of its elements) is kept whole
      // in the outer one; its own text is read all the same. Inside a run or a text element
      // it leaves the outer paragraph as it is.
      if (!open_.empty() && open_.back().quiet == 0) {
        auto& outer = open_.back();
        if (outer.run || outer.in_text) {
          outer.paragraph.ok = false;
        } else {
          open.also_object = true;
          ++outer.quiet;
        }
      }
      open.role = Role::paragraph;
      open_.push_back({});
      open_.back().paragraph.ordinal = next_ordinal_++;
      open_.back().paragraph.begin = open.tag.begin;
      open_.back().depth = stack_.size();
      return;
    }
    if (open_.empty()) return;
    auto& state = open_.back();
    if (state.quiet != 0) {
      open.role = Role::ignored;
      ++state.quiet;
      return;
    }
    Paragraph& p = state.paragraph;
    if (state.run) {
      classify_in_run(open);
      return;
    }
    // Markup inside a text element would be lost with its text: the paragraph stays as it is.
    if (state.in_text) p.ok = false;
    const bool top = direct_child();
    if (!v_.run.empty() && name == v_.run && top) {
      open.role = Role::run;
      state.run = RunState{open.tag.begin};
      return;
    }
    if (!v_.text.empty() && name == v_.text && top) {
      open.role = Role::text;
      state.in_text = true;
      state.text.clear();
      return;
    }
    if (v_.run.empty() && v_.text.empty() && listed(v_.spans, name)) {
      if (state.spans.size() == MAX_SPAN_DEPTH) {
        // Each piece carries the tags of its spans: deeper nesting is hostile, and would
        // cost time with the square of its depth.
        p.ok = false;
        open.role = Role::ignored;
        ++state.quiet;
        return;
      }
      open.role = Role::span;
      if (state.spans.empty()) begin_item(p, open.tag.begin);
      state.spans.push_back(open.name);
      state.span_tags.push_back(std::string(bytes(open.tag)));
      return;
    }
    if (const BreakElement* b = find_break(v_, name)) {
      open.role = Role::line_break;
      ++state.quiet;  // its properties are no content
      if (state.spans.empty()) begin_item(p, open.tag.begin);
      std::size_t count = 1;
      if (b->stands_for == ' ' && !v_.space_count_attribute.empty()) {
        auto digits = raw_attribute(bytes(open.tag), v_.space_count_attribute);
        std::size_t parsed = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
        // A count beyond a line of text is hostile; it reads as a long run of spaces.
        if (error == std::errc() && end == digits.data() + digits.size() && parsed > 0) {
          count = std::min<std::size_t>(parsed, 1000);
        }
      }
      append_text(p, std::string(count, b->stands_for), true);
      return;
    }
    if (listed(v_.markers, name) && state.spans.empty()) {
      open.role = Role::ignored;
      ++state.quiet;
      return;
    }
    open.role = Role::object;
    ++state.quiet;
  }

  void classify_in_run(Open& open) {
    auto& state = open_.back();
    const bool child = stack_.size() == state.depth + 2;
    if (state.run->text_open) state.run->broken = true;  // markup inside the text
    if (child && open.name == v_.text && !state.run->text_tag) {
      open.role = Role::text;
      state.run->text_tag = open.tag;
      state.run->text_open = true;
      state.text.clear();
      return;
    }
    if (child && state.run->text_tag) state.run->broken = true;  // something after the text
    open.role = Role::ignored;
    ++state.quiet;
  }

  void close(const Open& open, ByteSpan end) {
    const ByteSpan whole{open.tag.begin, end.end};
    switch (open.role) {
      case Role::skipped:
        --skipped_;
        return;
      case Role::ignored:
        --open_.back().quiet;
        return;
      case Role::paragraph:
        finish_paragraph();
        if (open.also_object) close_object(whole);
        return;
      case Role::object:
        close_object(whole);
        return;
      case Role::none:
        return;
      case Role::run:
        close_run(whole);
        return;
      case Role::text: {
        auto& state = open_.back();
        if (state.run) {
          // A self-closing text element has no place for text.
          if (open.tag.end == end.end) state.run->broken = true;
          state.run->text_end = end;
          state.run->text_open = false;
          state.run->text = std::move(state.text);
        } else {
          state.in_text = false;
          close_bare_text(open, end);
        }
        return;
      }
      case Role::span: {
        auto& state = open_.back();
        state.spans.pop_back();
        state.span_tags.pop_back();
        if (state.spans.empty()) end_item(state.paragraph, whole.end);
        return;
      }
      case Role::line_break: {
        auto& state = open_.back();
        --state.quiet;
        Paragraph& p = state.paragraph;
        if (!v_.line_break_between_runs.empty() && p.break_markup.empty()) {
          p.break_markup = std::string(bytes(whole));
        }
        if (state.spans.empty()) end_item(p, whole.end);
        return;
      }
    }
  }

  void close_object(ByteSpan whole) {
    auto& state = open_.back();
    if (--state.quiet != 0) return;
    Paragraph& p = state.paragraph;
    state.last_space = false;  // fields show text: a space after one counts
    if (state.spans.empty()) begin_item(p, whole.begin);
    p.objects.push_back(whole);
    p.entries.push_back({true, p.objects.size() - 1});
    if (state.spans.empty()) end_item(p, whole.end);
  }

  void close_run(ByteSpan whole) {
    Paragraph& p = open_.back().paragraph;
    RunState run = std::move(*open_.back().run);
    open_.back().run.reset();
    begin_item(p, whole.begin);
    if (run.broken || !run.text_tag) {
      p.objects.push_back(whole);
      p.entries.push_back({true, p.objects.size() - 1});
    } else {
      Piece piece;
      piece.prefix = std::string(xml_.substr(whole.begin, run.text_tag->begin - whole.begin));
      std::string_view tag = bytes(*run.text_tag);
      piece.prefix += v_.preserve_space ? preserving(tag, v_.text) : std::string(tag);
      piece.suffix = std::string(xml_.substr(run.text_end.begin, whole.end - run.text_end.begin));
      piece.text = std::move(run.text);
      add_piece(p, std::move(piece));
    }
    end_item(p, whole.end);
  }

  void close_bare_text(const Open& open, ByteSpan end) {
    Paragraph& p = open_.back().paragraph;
    begin_item(p, open.tag.begin);
    Piece piece;
    if (open.tag.end == end.end) {  // <t/>
      piece.prefix =
          v_.preserve_space ? preserving(bytes(open.tag), v_.text) : fmt::format("<{}>", v_.text);
      piece.suffix = end_tag(v_.text);
    } else {
      std::string_view tag = bytes(open.tag);
      piece.prefix = v_.preserve_space ? preserving(tag, v_.text) : std::string(tag);
      piece.suffix = std::string(bytes(end));
    }
    piece.text = std::move(open_.back().text);
    add_piece(p, std::move(piece));
    end_item(p, end.end);
  }

  void begin_item(Paragraph& p, std::size_t at) {
    open_.back().loose.reset();
    p.content.push_back({{at, at}, p.entries.size(), p.entries.size()});
  }

  void end_item(Paragraph& p, std::size_t at) {
    if (p.content.empty()) return;
    p.content.back().span.end = at;
    p.content.back().end_entry = p.entries.size();
  }

  // Character data directly in the paragraph: consecutive pieces are one content item.
  void extend_loose_text(Paragraph& p, ByteSpan raw) {
    auto& loose = open_.back().loose;
    if (!loose || *loose + 1 != p.content.size() || p.content.back().span.end != raw.begin) {
      begin_item(p, raw.begin);
      loose = p.content.size() - 1;
    }
    p.content.back().span.end = raw.end;
  }

  // Adds text in the current spans; `literal` text (from a break element) never collapses.
  void append_text(Paragraph& p, std::string_view text, bool literal) {
    std::string kept;
    auto& state = open_.back();
    if (!v_.space_element.empty() && !literal) {
      for (char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (space && state.last_space) continue;
        kept += space ? ' ' : c;
        state.last_space = space;
      }
      text = kept;
    } else if (!text.empty()) {
      state.last_space = text.back() == ' ';
    }
    if (text.empty()) return;
    Piece piece;
    if (!v_.run.empty() || !v_.text.empty()) {
      piece.neutral = true;  // a break between runs
    } else {
      for (const auto& tag : state.span_tags) piece.prefix += tag;
      for (auto it = state.spans.rbegin(); it != state.spans.rend(); ++it) {
        piece.suffix += end_tag(*it);
      }
    }
    piece.text = std::string(text);
    add_piece(p, std::move(piece));
    if (state.spans.empty() && !p.content.empty()) p.content.back().end_entry = p.entries.size();
  }

  // Text joins the piece before it when they share their wrapping and their content item
  // (entries of different items must stay apart: items are replaced whole).
  static void add_piece(Paragraph& p, Piece piece) {
    const std::size_t item_begin = p.content.empty() ? 0 : p.content.back().first_entry;
    if (!p.entries.empty() && !p.entries.back().object && p.entries.size() > item_begin) {
      Piece& last = p.pieces[p.entries.back().index];
      if (last.prefix == piece.prefix && last.suffix == piece.suffix &&
          last.neutral == piece.neutral) {
        last.text += piece.text;
        return;
      }
    }
    p.pieces.push_back(std::move(piece));
    p.entries.push_back({false, p.pieces.size() - 1});
  }

  void finish_paragraph() {
    OpenParagraph state = std::move(open_.back());
    open_.pop_back();
    Paragraph& p = state.paragraph;
    if (p.ok) model(p);
    report_(std::move(p));
  }

  void model(Paragraph& p) const {
    auto has_text = [&](const Entry& e) { return !e.object && !p.pieces[e.index].text.empty(); };
    std::size_t first = p.entries.size();
    std::size_t last = 0;
    for (std::size_t e = 0; e < p.entries.size(); ++e) {
      if (has_text(p.entries[e])) {
        first = std::min(first, e);
        last = e;
      }
    }
    if (first == p.entries.size()) {
      p.ok = false;
      return;
    }
    // The content items that hold the text, whole.
    p.region_begin = p.content.size();
    for (std::size_t i = 0; i < p.content.size(); ++i) {
      const auto& item = p.content[i];
      if (item.end_entry > first && item.first_entry <= last) {
        p.region_begin = std::min(p.region_begin, i);
        p.region_end = i + 1;
      }
    }
    if (p.region_begin == p.content.size()) {
      p.ok = false;
      return;
    }
    const std::size_t entry_begin = p.content[p.region_begin].first_entry;
    const std::size_t entry_end = p.content[p.region_end - 1].end_entry;
    if (entry_end - entry_begin > MAX_TAGGED_ENTRIES) {
      p.ok = false;
      return;
    }

    // The wrapping of most characters needs no tag.
    std::vector<std::pair<const Piece*, std::size_t>> counts;
    for (std::size_t e = entry_begin; e < entry_end; ++e) {
      if (!has_text(p.entries[e]) || p.pieces[p.entries[e].index].neutral) continue;
      const Piece& piece = p.pieces[p.entries[e].index];
      auto it = std::find_if(counts.begin(), counts.end(),
                             [&](const auto& c) { return c.first->prefix == piece.prefix; });
      if (it == counts.end()) it = counts.insert(counts.end(), {&piece, 0});
      it->second += piece.text.size();
    }
    if (counts.empty()) {  // nothing but line breaks
      p.ok = false;
      return;
    }
    const Piece* main = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                          return a.second < b.second;
                        })->first;
    p.main_prefix = main->prefix;
    p.main_suffix = main->suffix;

    std::string plain;
    std::size_t open = 0;
    std::string_view open_prefix;
    for (std::size_t e = entry_begin; e < entry_end; ++e) {
      const Entry& entry = p.entries[e];
      auto close_open = [&] {
        if (open != 0) p.text += close_tag(open);
        open = 0;
      };
      if (entry.object) {
        close_open();
        p.tags.push_back(e);
        p.text += placeholder_tag(p.tags.size());
        continue;
      }
      const Piece& piece = p.pieces[entry.index];
      if (piece.text.empty()) continue;
      plain += piece.text;
      if (piece.neutral) {
        // A line break between runs: a character of the text, whatever wraps it.
      } else if (piece.prefix == p.main_prefix) {
        close_open();
      } else if (open == 0 || open_prefix != piece.prefix) {
        close_open();
        p.tags.push_back(e);
        open = p.tags.size();
        open_prefix = piece.prefix;
        p.text += open_tag(open);
      }
      p.text += piece.text;
    }
    if (open != 0) p.text += close_tag(open);
    if (is_blank(plain)) {
      p.ok = false;
    } else if (p.tags.empty()) {
      p.text = std::move(plain);
    } else if (has_inline_tags(plain)) {
      p.ok = false;  // document text that reads as a tag would be taken for one
    }
  }

  std::string_view bytes(ByteSpan span) const {
    return xml_.substr(span.begin, span.end - span.begin);
  }

  std::string_view xml_;
  const ParagraphVocabulary& v_;
  const OnParagraph& report_;
  std::vector<Open> stack_;
  std::vector<OpenParagraph> open_;  // paragraphs being read, innermost last
  std::size_t next_ordinal_ = 0;
  std::size_t skipped_ = 0;  // depth inside an element whose paragraphs are not read at all
};

Result<std::size_t> scan(std::string_view xml, const ParagraphVocabulary& vocabulary,
                         const OnParagraph& report) {
  Scanner scanner(xml, vocabulary, report);
  auto parsed = parse_xml(xml, scanner);
  if (!parsed) return std::unexpected(parsed.error());
  return scanner.paragraphs();
}

struct Edit {
  ByteSpan span;
  std::string bytes;
};

// Builds the new content of translated paragraphs. Paragraphs end before the elements that
// hold them, so the edits inside an element are known when the element is moved.
class Writer {
 public:
  Writer(std::string_view xml, const ParagraphVocabulary& vocabulary) : xml_(xml), v_(vocabulary) {}

  void paragraph(const Paragraph& p, std::string_view translation) {
    std::vector<InlinePiece> pieces;
    std::string stripped;
    if (p.tags.empty()) {
      pieces.push_back({InlineKind::text, translation, 0});
    } else if (keeps_inline_tags(p.text, translation)) {
      pieces = parse_inline_tags(translation);
    } else {
      // Tags lost: the text in the paragraph's main wrapping, its elements after it.
      stripped = strip_inline_tags(translation);
      pieces.push_back({InlineKind::text, stripped, 0});
      for (std::size_t i = 0; i < p.tags.size(); ++i) {
        if (p.entries[p.tags[i]].object) pieces.push_back({InlineKind::placeholder, {}, i + 1});
      }
    }
    std::string out;
    std::vector<std::size_t> open;
    bool after_space = true;
    for (const auto& piece : pieces) {
      switch (piece.kind) {
        case InlineKind::open:
          open.push_back(piece.id);
          break;
        case InlineKind::close:
          if (!open.empty()) open.pop_back();
          break;
        case InlineKind::placeholder: {
          const Entry& entry = p.entries[p.tags[piece.id - 1]];
          out += render(p.objects[entry.index], p.begin);
          after_space = false;
          break;
        }
        case InlineKind::text: {
          if (piece.text.empty()) break;
          std::string_view prefix = p.main_prefix;
          std::string_view suffix = p.main_suffix;
          if (!open.empty()) {
            const Piece& wrapping = p.pieces[p.entries[p.tags[open.back() - 1]].index];
            prefix = wrapping.prefix;
            suffix = wrapping.suffix;
          }
          append_wrapped(out, prefix, suffix, piece.text, p.break_markup, after_space);
          break;
        }
      }
    }
    // Content of the paragraph outside the text region keeps its place and bytes.
    for (std::size_t i = p.region_begin; i < p.region_end; ++i) {
      const ByteSpan span = p.content[i].span;
      std::string bytes = i == p.region_begin ? std::move(out) : std::string();
      drop_inner(span, p.begin);
      edits_.push_back({span, std::move(bytes)});
    }
  }

  std::string apply() {
    std::sort(edits_.begin(), edits_.end(),
              [](const Edit& a, const Edit& b) { return a.span.begin < b.span.begin; });
    std::string out;
    out.reserve(xml_.size() + xml_.size() / 4);
    std::size_t copied = 0;
    for (const auto& edit : edits_) {
      if (edit.span.begin < copied) continue;
      out.append(xml_.substr(copied, edit.span.begin - copied));
      out += edit.bytes;
      copied = edit.span.end;
    }
    out.append(xml_.substr(copied));
    return out;
  }

 private:
  // The edits of the paragraphs inside the one that begins at `floor`: they finished after
  // every paragraph before it, so they are at the end of the list. Those within `span` are
  // taken out.
  std::vector<Edit> take_inner(ByteSpan span, std::size_t floor) {
    std::size_t first = edits_.size();
    while (first > 0 && edits_[first - 1].span.begin >= floor) --first;
    std::vector<Edit> inside;
    auto tail = edits_.begin() + static_cast<std::ptrdiff_t>(first);
    auto kept = std::stable_partition(tail, edits_.end(), [&](const Edit& edit) {
      return edit.span.begin < span.begin || edit.span.end > span.end;
    });
    std::move(kept, edits_.end(), std::back_inserter(inside));
    edits_.erase(kept, edits_.end());
    return inside;
  }

  // An element's bytes with the edits already made inside it, which it now carries.
  std::string render(ByteSpan span, std::size_t floor) {
    std::vector<Edit> inside = take_inner(span, floor);
    std::sort(inside.begin(), inside.end(),
              [](const Edit& a, const Edit& b) { return a.span.begin < b.span.begin; });
    std::string out;
    std::size_t copied = span.begin;
    for (const auto& edit : inside) {
      if (edit.span.begin < copied) continue;
      out.append(xml_.substr(copied, edit.span.begin - copied));
      out += edit.bytes;
      copied = edit.span.end;
    }
    out.append(xml_.substr(copied, span.end - copied));
    return out;
  }

  // Edits inside content that is replaced have been carried along by render() or are lost
  // with it; either way they must not apply to the source again.
  void drop_inner(ByteSpan span, std::size_t floor) { take_inner(span, floor); }

  void append_wrapped(std::string& out, std::string_view prefix, std::string_view suffix,
                      std::string_view text, std::string_view break_markup, bool& after_space) {
    out += prefix;
    std::size_t spaces = 0;
    auto flush_spaces = [&] {
      if (spaces == 0) return;
      if (spaces == 1) {
        out += fmt::format("<{}/>", v_.space_element);
      } else {
        out += fmt::format("<{} {}=\"{}\"/>", v_.space_element, v_.space_count_attribute, spaces);
      }
      spaces = 0;
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
      const char c = text[pos];
      std::size_t next = text.find_first_of(" \n\t", pos);
      if (next != pos) {
        flush_spaces();
        std::size_t end = next == std::string_view::npos ? text.size() : next;
        append_escaped(out, text.substr(pos, end - pos));
        after_space = false;
        pos = end;
        continue;
      }
      ++pos;
      if (c == ' ' && !v_.space_element.empty()) {
        if (after_space) {
          ++spaces;
        } else {
          out += ' ';
          after_space = true;
        }
        continue;
      }
      flush_spaces();
      after_space = c == ' ';
      if (c == '\n' && !v_.line_break_between_runs.empty()) {
        out += suffix;
        out += break_markup.empty() ? v_.line_break_between_runs : break_markup;
        out += prefix;
      } else if (c == '\n' && !v_.line_break_in_text.empty()) {
        out += v_.line_break_in_text;
        after_space = true;
      } else if (c == '\t' && !v_.tab_in_text.empty()) {
        out += v_.tab_in_text;
        after_space = true;
      } else {
        out += c;
      }
    }
    flush_spaces();
    out += suffix;
  }

  std::string_view xml_;
  const ParagraphVocabulary& v_;
  std::vector<Edit> edits_;
};

std::unexpected<Error> source_changed(std::string what) {
  return fail(ErrorKind::format, what + "; the source changed after it was read");
}

}  // namespace

Result<std::vector<TextSlot>> extract_paragraphs(std::string_view xml,
                                                 const ParagraphVocabulary& vocabulary,
                                                 std::vector<Segment>& segments) {
  const std::size_t segments_before = segments.size();
  std::vector<TextSlot> slots;
  bool overflow = false;
  auto scanned = scan(xml, vocabulary, [&](Paragraph&& p) {
    if (slots.size() <= p.ordinal) slots.resize(p.ordinal + 1);
    if (!p.ok || overflow) return;
    if (segments.size() == MAX_DOCUMENT_SEGMENTS) {
      overflow = true;
      return;
    }
    slots[p.ordinal] = {SlotRole::carrier, segments.size()};
    const TagPolicy tags = p.tags.empty() ? TagPolicy::none : TagPolicy::strip;
    segments.push_back(Segment{std::move(p.text), tags});
  });
  if (!scanned || overflow) {
    segments.resize(segments_before);
    if (!scanned) return std::unexpected(scanned.error());
    return too_many_segments();
  }
  slots.resize(*scanned);
  return slots;
}

Result<std::string> rewrite_paragraphs(std::string_view xml, const ParagraphVocabulary& vocabulary,
                                       const std::vector<TextSlot>& slots,
                                       const std::vector<Segment>& segments,
                                       const Translations& translations) {
  Writer writer(xml, vocabulary);
  bool changed = false;
  auto scanned = scan(xml, vocabulary, [&](Paragraph&& p) {
    TextSlot slot = p.ordinal < slots.size() ? slots[p.ordinal] : TextSlot{};
    if (changed || slot.role != SlotRole::carrier) return;
    if (!p.ok || slot.segment >= segments.size() || slot.segment >= translations.size() ||
        segments[slot.segment].text != p.text) {
      changed = true;
      return;
    }
    const auto& translation = translations[slot.segment];
    // A paragraph kept in its language, or translated to itself, is not touched at all.
    if (!translation || *translation == p.text) return;
    writer.paragraph(p, *translation);
  });
  if (!scanned) return std::unexpected(scanned.error());
  if (*scanned != slots.size()) {
    return source_changed(
        fmt::format("the part has {} paragraphs where {} were read", *scanned, slots.size()));
  }
  if (changed) return source_changed("the part no longer holds the text that was read");
  return writer.apply();
}

}  // namespace quorvel
