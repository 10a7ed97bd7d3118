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
#include "translation/doc/package/package.h"
#include "translation/request.h"

namespace quorvel {

/// A Word document read: its paragraphs and one slot per <w:t> element of each text part.
using DocxDocument = PackageDocument;
using DocxPart = PackagePart;

/// The DOCX row of the package formats.
extern const PackageFormat DOCX_FORMAT;

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

/// write_package for a Word document.
Result<void> write_docx(const DocxDocument& document, const Translations& translations,
                        const std::string& output_path);

}  // namespace quorvel
