#pragma once
// A parsed input document of any supported kind, and its single write entry.

#include <string>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "translation/doc/package/package.h"
#include "translation/doc/plain_text.h"
#include "translation/doc/subtitles.h"
#include "translation/request.h"

namespace quorvel {

/// Every zip package format (DOCX, PPTX, XLSX, OpenDocument) is a PackageDocument, which
/// carries its format; the table of formats is in formats.h.
using Document = std::variant<PackageDocument, SubtitleDocument, PlainDocument>;

/// The texts to translate, in document order.
const std::vector<Segment>& document_segments(const Document& document);

/// Writes the translated copy with the writer of the document's kind. Fails with
/// "{} translations for {} segments" (and writes nothing) unless `translations` has one
/// entry per segment; an absent entry keeps the segment's source text. The output replaces
/// `output_path` only once it is complete, so `output_path` may name the input itself.
Result<void> write_document(const Document& document, const Translations& translations,
                            const std::string& output_path);

}  // namespace quorvel
