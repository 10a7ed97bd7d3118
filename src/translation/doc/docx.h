#pragma once
// Word documents (DOCX packages). Extraction reads the text parts of the package and makes
// one segment per paragraph with text, plus a positional map of every <w:t> element of
// each part; write-back copies the package entry by entry and rewrites the translated
// paragraphs of those parts (docx_paragraphs.h says how), leaving every other byte alone.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/request.h"

namespace quorvel {

enum class SlotRole {
  unchanged,  // not part of any segment: written back as it was
  carrier,    // first text element of a paragraph with text: receives the whole translation
  cleared,    // any further text element of that paragraph: emptied
};

/// What happens to one <w:t> element; `segment` is meaningful for carrier and cleared.
struct TextSlot {
  SlotRole role = SlotRole::unchanged;
  std::size_t segment = 0;
};

/// One XML part that was read: its slots in document order, one per <w:t> element.
struct DocxPart {
  std::string name;  // the archive entry name, e.g. word/document.xml
  std::vector<TextSlot> slots;
};

/// The map of a package; the package itself is read again from `source_path` on write, so
/// that file must not change in between (the slots are positional).
struct DocxDocument {
  std::string source_path;
  std::vector<Segment> segments;  // paragraph texts, part by part in document order
  std::vector<DocxPart> parts;    // in reading order: document, headers, footers, notes, comments
};

/// Reads word/document.xml, the headers and footers (each group sorted byte-wise by name),
/// footnotes, endnotes and comments. Fails with "opening {path}", "reading docx zip",
/// "parsing {entry}", a limit message, or "no translatable text found in document".
Result<DocxDocument> extract_docx(const std::string& path);

/// The slots and segments of one part's bytes, appended to `segments`. The error message
/// is the parser's ("xml: ..." or "xml text: ..."); extract_docx adds the part name.
Result<std::vector<TextSlot>> extract_part(std::string_view xml, std::vector<Segment>& segments);

/// The part with each translated paragraph rewritten: a plain one has the whole translation
/// in its carrier <w:t> (line feeds and tabs as <w:br/> and <w:tab/>) and its other text
/// elements emptied; a tagged one gets new runs, hyperlinks and fields in the translation's
/// order. A paragraph whose translation is absent, or equal to its text, keeps every byte.
/// Fails with "xml: ..." or when the part no longer holds what the slots were made from.
Result<std::string> rewrite_part(std::string_view xml, const std::vector<TextSlot>& slots,
                                 const std::vector<Segment>& segments,
                                 const Translations& translations);

/// Writes the translated package to `output_path` through a temporary file beside it, so
/// that a failure leaves nothing behind and `output_path` may name the source itself.
/// Every entry is copied in the source order, DEFLATE level 6, dated 1980-01-01 with Unix
/// mode 0644. Reached through write_document, which has checked the count of translations.
Result<void> write_docx(const DocxDocument& document, const Translations& translations,
                        const std::string& output_path);

}  // namespace quorvel
