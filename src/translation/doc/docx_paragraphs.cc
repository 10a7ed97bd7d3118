#include "translation/doc/docx_paragraphs.h"

#include <optional>
#include <utility>

#include "platform/text.h"
#include "translation/inline_tags.h"

namespace quorvel {
namespace {

// Beyond this many runs, links and fields a paragraph goes plain: no real paragraph has as many
// formatting changes, and the tagging work stays bounded.
constexpr std::size_t MAX_TAGGED_ITEMS = 1000;

// Run children that hold nothing a reader sees besides the run's text.
bool is_plain_run_child(std::string_view name) {
  return name == "w:rPr" || name == "w:lastRenderedPageBreak" || name == "w:softHyphen" ||
         name == "w:noBreakHyphen";
}

// One <w:r> of a modelled paragraph. Its elements and breaks are positions in the
// paragraph's lists.
struct Run {
  ByteSpan span;
  ByteSpan formatting;  // its <w:rPr>, empty when it has none
  std::string text;
  std::vector<std::size_t> elements;
  std::vector<std::size_t> breaks;
  bool other = false;       // holds something besides text: a drawing, a reference, a page break
  int field_depth = 0;      // fields begun minus fields ended in this run
  bool field_code = false;  // holds field characters or an instruction

  bool has_text() const { return !elements.empty() || !breaks.empty(); }
};

enum class ItemKind { run, link, object, marker };

// A child of a modelled paragraph.
struct Item {
  ItemKind kind = ItemKind::marker;
  ByteSpan span;
  Run run;                // kind run
  ByteSpan start_tag;     // kind link
  std::vector<Run> runs;  // kind link

  bool has_text() const {
    if (kind == ItemKind::run) return run.has_text();
    if (kind != ItemKind::link) return false;
    for (const auto& r : runs) {
      if (r.has_text()) return true;
    }
    return false;
  }
};

struct OpenElement {
  std::string name;
  std::size_t begin = 0;
};

class ParagraphScanner : public XmlHandler {
 public:
  ParagraphScanner(std::string_view xml, const OnParagraph& on_paragraph)
      : xml_(xml), on_paragraph_(on_paragraph) {}

  void start(std::string_view name, ByteSpan tag, bool self_closing) override {
    const std::size_t level = stack_.size();
    if (name == "w:p" && !self_closing) {
      start_paragraph(level);
    } else if (name == "w:t") {
      text_element(level, tag, self_closing);
    } else if (self_closing && !in_text_ && is_break(name) && parent_is("w:r")) {
      break_element(level, name, tag);
    } else if (modelled_) {
      model_start(level, name, tag, self_closing);
    }
    if (!self_closing) stack_.push_back({std::string(name), tag.begin});
  }

  void end(std::string_view name, ByteSpan tag) override {
    if (stack_.empty()) return;  // expat matches tags; this is only a guard
    const std::size_t begin = stack_.back().begin;
    stack_.pop_back();
    const std::size_t level = stack_.size();
    if (name == "w:t") {
      in_text_ = false;
      // Nested text elements (hostile, but well-formed XML) each close their own.
      if (!open_elements_.empty()) {
        elements_[open_elements_.back()].end = tag;
        open_elements_.pop_back();
      }
    }
    if (name == "w:p") {
      finish(modelled_ && level == paragraph_level_);
      return;
    }
    if (modelled_) model_end(level, name, ByteSpan{begin, tag.end});
  }

  void text(std::string_view decoded) override {
    if (!in_text_) return;
    text_ += decoded;
    if (modelled_ && run_) run_->text += decoded;
  }

  bool in_text() const override { return in_text_; }

  std::size_t finish_part() {
    finish(false);  // text after the last paragraph end counts as a paragraph
    return slot_count_;
  }

 private:
  static bool is_break(std::string_view name) {
    return name == "w:br" || name == "w:cr" || name == "w:tab";
  }

  bool parent_is(std::string_view name) const {
    return !stack_.empty() && stack_.back().name == name;
  }

  bool run_child(std::size_t level) const { return run_ && level == run_level_ + 1; }

  void start_paragraph(std::size_t level) {
    // A paragraph inside another (a text box) ends the flat text at its own end, as the
    // outer one cannot be modelled around it.
    if (modelled_ || !text_.empty() || !elements_.empty() || !breaks_.empty()) {
      modelled_ = false;
      return;
    }
    modelled_ = true;
    paragraph_level_ = level;
  }

  void text_element(std::size_t level, ByteSpan tag, bool self_closing) {
    elements_.push_back({tag, {}, self_closing});
    ++slot_count_;
    if (!self_closing) {
      in_text_ = true;
      open_elements_.push_back(elements_.size() - 1);
    }
    if (!modelled_) return;
    if (run_child(level)) {
      run_->elements.push_back(elements_.size() - 1);
    } else if (!inside_other_child()) {
      modelled_ = false;
    }
  }

  void break_element(std::size_t level, std::string_view name, ByteSpan tag) {
    // Page and column breaks are layout, not a line of text: they stay where they are.
    std::string_view type = raw_attribute(xml_.substr(tag.begin, tag.end - tag.begin), "w:type");
    if (name == "w:br" && !type.empty() && type != "textWrapping") {
      if (run_child(level)) run_->other = true;
      return;
    }
    char c = name == "w:tab" ? '\t' : '\n';
    text_ += c;
    breaks_.push_back(tag);
    if (!modelled_) return;
    if (run_child(level)) {
      run_->text += c;
      run_->breaks.push_back(breaks_.size() - 1);
    } else if (!inside_other_child()) {
      modelled_ = false;
    }
  }

  // Inside a direct child of the paragraph that is neither a run nor a hyperlink.
  bool inside_other_child() const { return other_child_open_; }

  void model_start(std::size_t level, std::string_view name, ByteSpan tag, bool self_closing) {
    if (level == paragraph_level_ + 1) {
      if (self_closing) {
        items_.push_back({ItemKind::marker, tag});
      } else if (name == "w:r") {
        run_.emplace();
        run_level_ = level;
      } else if (name == "w:hyperlink") {
        link_.emplace();
        link_->kind = ItemKind::link;
        link_->start_tag = tag;
        link_level_ = level;
      } else {
        other_child_open_ = true;
        other_child_elements_ = elements_.size();
        other_child_breaks_ = breaks_.size();
      }
    } else if (run_child(level)) {
      if (name == "w:rPr") {
        if (self_closing) run_->formatting = tag;
      } else if (name == "w:fldChar") {
        run_->field_code = true;
        auto type = raw_attribute(xml_.substr(tag.begin, tag.end - tag.begin), "w:fldCharType");
        if (type == "begin") ++run_->field_depth;
        if (type == "end") --run_->field_depth;
      } else if (name == "w:instrText") {
        run_->field_code = true;
      } else if (!is_plain_run_child(name)) {
        run_->other = true;
      }
    } else if (link_ && level == link_level_ + 1) {
      if (name == "w:r" && !self_closing) {
        run_.emplace();
        run_level_ = level;
      } else if (name != "w:proofErr") {
        modelled_ = false;  // bookmarks and the like inside a link would be lost
      }
    }
  }

  void model_end(std::size_t level, std::string_view name, ByteSpan span) {
    if (run_ && level == run_level_) {
      run_->span = span;
      if (link_) {
        link_->runs.push_back(std::move(*run_));
      } else {
        Item item{ItemKind::run, span};
        item.run = std::move(*run_);
        items_.push_back(std::move(item));
      }
      run_.reset();
    } else if (run_child(level) && name == "w:rPr") {
      run_->formatting = span;
    } else if (link_ && level == link_level_) {
      link_->span = span;
      items_.push_back(std::move(*link_));
      link_.reset();
    } else if (level == paragraph_level_ + 1) {
      other_child_open_ = false;
      const bool has_text =
          elements_.size() != other_child_elements_ || breaks_.size() != other_child_breaks_;
      if (name == "w:fldSimple") {
        items_.push_back({ItemKind::object, span});
      } else if (has_text) {
        modelled_ = false;  // text in a content control, a tracked insertion, ...
      } else {
        items_.push_back({ItemKind::marker, span});
      }
    }
  }

  void finish(bool model_complete) {
    DocxParagraph paragraph;
    if (!model_complete || !build_model(paragraph)) {
      paragraph = DocxParagraph{};
      paragraph.text = std::move(text_);
      for (std::size_t i = 0; i < elements_.size(); ++i) add_element(paragraph, i);
      paragraph.breaks = std::move(breaks_);
    }
    std::string_view visible = paragraph.text;
    std::string stripped;
    if (!paragraph.tags.empty()) visible = stripped = strip_inline_tags(paragraph.text);
    if (reporting_ && !is_blank(visible) && !paragraph.text_slots.empty()) {
      reporting_ = on_paragraph_(std::move(paragraph));
    }
    text_.clear();
    elements_.clear();
    open_elements_.clear();  // a paragraph ended inside a text element: it is never closed
    breaks_.clear();
    items_.clear();
    run_.reset();
    link_.reset();
    modelled_ = false;
    other_child_open_ = false;
    first_slot_ = slot_count_;
  }

  void add_element(DocxParagraph& paragraph, std::size_t element) const {
    paragraph.text_slots.push_back(first_slot_ + element);
    paragraph.text_elements.push_back(elements_[element]);
  }

  void add_run(DocxParagraph& paragraph, const Run& run) const {
    paragraph.text += run.text;
    for (auto element : run.elements) add_element(paragraph, element);
    for (auto b : run.breaks) paragraph.breaks.push_back(breaks_[b]);
  }

  std::string_view bytes(ByteSpan span) const {
    return xml_.substr(span.begin, span.end - span.begin);
  }

  // Complex fields (from the run that begins one to the run that ends it) become objects.
  // Fails on a field that is not closed within the paragraph or code outside any field.
  bool fold_fields(std::vector<Item>& out) {
    int depth = 0;
    std::size_t field_begin = 0;
    for (auto& item : items_) {
      if (item.kind == ItemKind::link) {
        for (const auto& run : item.runs) {
          if (run.field_code) return false;
        }
      }
      // Code outside any field that neither begins one is left alone as ordinary run content.
      const bool code = item.kind == ItemKind::run && item.run.field_code &&
                        (depth != 0 || item.run.field_depth > 0);
      if (depth == 0 && !code) {
        out.push_back(std::move(item));
        continue;
      }
      if (depth == 0) field_begin = item.span.begin;
      if (item.kind == ItemKind::run) depth += item.run.field_depth;
      if (depth < 0) return false;
      if (depth == 0) out.push_back({ItemKind::object, {field_begin, item.span.end}});
    }
    return depth == 0;
  }

  // The modelled text of the paragraph, tagged when its formatting differs inside it. False
  // when the paragraph holds something the model does not cover.
  bool build_model(DocxParagraph& paragraph) {
    std::vector<Item> items;
    if (!fold_fields(items)) return false;
    std::size_t first = items.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      auto& item = items[i];
      // Field characters left outside a folded field (a whole field in one run) are kept
      // whole like any other object.
      const bool object = item.run.other || item.run.field_code;
      if (item.kind == ItemKind::run && !item.run.has_text()) {
        item.kind = object ? ItemKind::object : ItemKind::marker;
      } else if (item.kind == ItemKind::run && object) {
        return false;  // text and an object in one run
      }
      if (item.kind == ItemKind::link) {
        for (const auto& run : item.runs) {
          if (run.other) return false;
        }
      }
      if (item.has_text()) {
        first = std::min(first, i);
        last = i;
      }
    }
    if (first == items.size()) return true;  // nothing but field results and objects

    bool needs_tags = false;
    std::optional<std::string_view> common;
    auto compare = [&](const Run& run) {
      if (!run.has_text()) return;
      auto formatting = bytes(run.formatting);
      if (common && *common != formatting) needs_tags = true;
      common = formatting;
    };
    for (std::size_t i = first; i <= last; ++i) {
      const auto& item = items[i];
      if (item.kind == ItemKind::object) needs_tags = true;
      if (item.kind == ItemKind::run) compare(item.run);
      if (item.kind != ItemKind::link) continue;
      // A link around the whole paragraph is no tag: its text stays inside it as it is.
      if (first != last) needs_tags = true;
      for (const auto& run : item.runs) compare(run);
    }
    if (needs_tags && last - first < MAX_TAGGED_ITEMS &&
        tag_paragraph(items, first, last, paragraph)) {
      return true;
    }

    paragraph = DocxParagraph{};
    for (std::size_t i = first; i <= last; ++i) {
      if (items[i].kind == ItemKind::run) add_run(paragraph, items[i].run);
      if (items[i].kind == ItemKind::link) {
        for (const auto& run : items[i].runs) add_run(paragraph, run);
      }
    }
    return true;
  }

  // The formatting covering most characters of the paragraph's own runs: text in it needs no
  // tag, so formatting that wraps the whole paragraph never becomes one.
  ByteSpan main_formatting(const std::vector<Item>& items, std::size_t first,
                           std::size_t last) const {
    std::vector<std::pair<ByteSpan, std::size_t>> counts;
    for (std::size_t i = first; i <= last; ++i) {
      if (items[i].kind != ItemKind::run) continue;
      const Run& run = items[i].run;
      auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& entry) {
        return bytes(entry.first) == bytes(run.formatting);
      });
      if (it == counts.end()) it = counts.insert(counts.end(), {run.formatting, 0});
      it->second += run.text.size() + 1;
    }
    ByteSpan best;
    std::size_t most = 0;
    for (const auto& [formatting, count] : counts) {
      if (count > most) best = formatting, most = count;
    }
    return best;
  }

  // Runs of one formatting next to each other share a tag; text in `outside` gets none.
  class Tagger {
   public:
    Tagger(const ParagraphScanner& scanner, DocxParagraph& paragraph)
        : scanner_(scanner), paragraph_(paragraph) {}

    void run(const Run& run, ByteSpan outside) {
      auto formatting = scanner_.bytes(run.formatting);
      if (formatting == scanner_.bytes(outside)) {
        close();
      } else if (!open_ || scanner_.bytes(open_formatting_) != formatting) {
        close();
        open_ = add({DocxTagKind::format, run.formatting, {}});
        open_formatting_ = run.formatting;
        paragraph_.text += open_tag(open_);
      }
      scanner_.add_run(paragraph_, run);
    }

    void link(const Item& item) {
      close();
      ByteSpan formatting;
      for (const auto& run : item.runs) {
        if (run.has_text()) {
          formatting = run.formatting;
          break;
        }
      }
      std::size_t id = add({DocxTagKind::link, item.start_tag, formatting});
      paragraph_.text += open_tag(id);
      for (const auto& r : item.runs) {
        if (r.has_text()) run(r, formatting);
      }
      close();
      paragraph_.text += close_tag(id);
    }

    void object(ByteSpan span) {
      close();
      paragraph_.text += placeholder_tag(add({DocxTagKind::object, span, {}}));
    }

    void close() {
      if (open_ != 0) paragraph_.text += close_tag(open_);
      open_ = 0;
    }

   private:
    std::size_t add(DocxTag tag) {
      paragraph_.tags.push_back(tag);
      return paragraph_.tags.size();
    }

    const ParagraphScanner& scanner_;
    DocxParagraph& paragraph_;
    std::size_t open_ = 0;
    ByteSpan open_formatting_;
  };

  bool tag_paragraph(const std::vector<Item>& items, std::size_t first, std::size_t last,
                     DocxParagraph& paragraph) const {
    paragraph.formatting = main_formatting(items, first, last);
    Tagger tagger(*this, paragraph);
    std::size_t expected_tags = 0;
    for (std::size_t i = first; i <= last; ++i) {
      const auto& item = items[i];
      switch (item.kind) {
        case ItemKind::run:
          tagger.run(item.run, paragraph.formatting);
          break;
        case ItemKind::link:
          tagger.link(item);
          break;
        case ItemKind::object:
          tagger.object(item.span);
          break;
        case ItemKind::marker:
          continue;  // bookmarks, proofing marks, empty runs: they stay where they are
      }
      paragraph.content.push_back(item.span);
    }
    tagger.close();
    for (const auto& tag : paragraph.tags) expected_tags += tag.kind == DocxTagKind::object ? 1 : 2;
    // Document text that reads as a tag would be taken for one: such a paragraph goes plain.
    std::size_t found = 0;
    for (const auto& piece : parse_inline_tags(paragraph.text)) {
      found += piece.kind == InlineKind::text ? 0 : 1;
    }
    return found == expected_tags;
  }

  std::string_view xml_;
  const OnParagraph& on_paragraph_;
  bool reporting_ = true;
  std::vector<OpenElement> stack_;
  std::size_t slot_count_ = 0;
  std::size_t first_slot_ = 0;  // slot number of the paragraph's first element

  // The flat paragraph, collected always.
  std::string text_;
  std::vector<TextElement> elements_;
  std::vector<ByteSpan> breaks_;
  bool in_text_ = false;
  std::vector<std::size_t> open_elements_;  // text elements started and not yet ended

  // The model, while the paragraph can still be modelled.
  bool modelled_ = false;
  std::size_t paragraph_level_ = 0;
  std::vector<Item> items_;
  std::optional<Run> run_;
  std::size_t run_level_ = 0;
  std::optional<Item> link_;
  std::size_t link_level_ = 0;
  bool other_child_open_ = false;
  std::size_t other_child_elements_ = 0;
  std::size_t other_child_breaks_ = 0;
};

}  // namespace

Result<std::size_t> scan_paragraphs(std::string_view xml, const OnParagraph& on_paragraph) {
  ParagraphScanner scanner(xml, on_paragraph);
  auto parsed = parse_xml(xml, scanner);
  if (!parsed) return std::unexpected(parsed.error());
  return scanner.finish_part();
}

}  // namespace quorvel
