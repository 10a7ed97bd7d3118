#pragma once
// One pass over a DOCX part that finds its paragraphs: the text of each, which <w:t>
// elements carry it, and the byte spans a writer needs to put a translation back. Extraction
// and write-back both run it over the same bytes, so they agree element by element.
//
// A paragraph made of runs, hyperlinks and fields is modelled: when its runs differ in
// formatting, or it holds a hyperlink or a field between its words, its text carries inline
// tags (translation/inline_tags.h). Any other paragraph (text inside content controls,
// tracked insertions, nested paragraphs) keeps the flat text of all its <w:t> elements.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/doc/package/xml.h"

namespace quorvel {

/// A <w:t> element: its start tag and end tag, or one self-closing tag (`end` empty).
struct TextElement {
  ByteSpan start;
  ByteSpan end;
  bool self_closing = false;
};

enum class DocxTagKind {
  format,  // runs whose formatting differs from the paragraph's own: their <w:rPr>
  link,    // a hyperlink: its start tag; `formatting` is that of its text
  object,  // a field or a run without text between words: moved whole, as a placeholder
};

struct DocxTag {
  DocxTagKind kind = DocxTagKind::format;
  ByteSpan markup;      // format: the <w:rPr> element (empty: none); link: the start tag;
                        // object: every byte of it
  ByteSpan formatting;  // link only: the <w:rPr> of its first run
};

struct DocxParagraph {
  std::string text;  // the segment text; carries inline tags when `tags` is not empty
  /// Slot positions (one per <w:t> of the part) of the elements the text came from, in order;
  /// the first is the carrier. Field results and other runs' elements are not among them.
  std::vector<std::size_t> text_slots;
  std::vector<TextElement> text_elements;  // the same elements
  std::vector<ByteSpan> breaks;  // <w:br/>, <w:cr/>, <w:tab/> that became line feeds and tabs
  // Tagged paragraphs only:
  std::vector<DocxTag> tags;      // tag n is tags[n - 1]
  std::vector<ByteSpan> content;  // the runs, hyperlinks and fields rewritten as a whole
  ByteSpan formatting;            // the <w:rPr> of text outside any tag
};

/// Reports each paragraph whose text is not blank (tags aside), in document order, with the
/// part's slot count so far; a false return stops the reports but not the parse. Returns the
/// number of <w:t> elements of the part.
using OnParagraph = std::function<bool(DocxParagraph&& paragraph)>;
Result<std::size_t> scan_paragraphs(std::string_view xml, const OnParagraph& on_paragraph);

}  // namespace quorvel
