#pragma once
// Zip packages of XML parts (DOCX, PPTX, XLSX, OpenDocument): what every such format shares.
// A format chooses the parts that hold text and gives each a part reader; extraction reads
// those parts into segments and one positional map per part, and write-back copies the
// package entry by entry, rewriting only those parts, leaving every other byte alone.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/doc/limits.h"
#include "translation/doc/package/zip.h"
#include "translation/request.h"

namespace quorvel {

enum class SlotRole {
  unchanged,  // not part of any segment: written back as it was
  carrier,    // first text unit of a paragraph with text: receives the whole translation
  cleared,    // any further text unit of that paragraph: emptied
};

/// What happens to one text unit of a part (a <w:t> element in Word documents, a paragraph
/// elsewhere); `segment` is meaningful for carrier and cleared.
struct TextSlot {
  SlotRole role = SlotRole::unchanged;
  std::size_t segment = 0;
};

/// How one kind of XML part is read and written back. `extract` appends the part's segments
/// and returns its slots; `rewrite` puts translations back, failing when the part no longer
/// holds what the slots were made from.
struct PartReader {
  Result<std::vector<TextSlot>> (*extract)(std::string_view xml, std::vector<Segment>& segments);
  Result<std::string> (*rewrite)(std::string_view xml, const std::vector<TextSlot>& slots,
                                 const std::vector<Segment>& segments,
                                 const Translations& translations);
};

/// One XML part that was read: its slots in document order.
struct PackagePart {
  std::string name;  // the archive entry name, e.g. word/document.xml
  std::vector<TextSlot> slots;
  const PartReader* reader = nullptr;
};

/// A part chosen for its text: the entry's position in the archive and its reader.
struct ChosenPart {
  std::size_t entry = 0;
  const PartReader* reader = nullptr;
};

/// What a format sees of a package while choosing its text parts.
struct EntryReader {
  const ZipArchive& archive;
  const std::vector<ZipEntry>& entries;
  std::string_view kind;
  const PackageLimits& limits;
  /// The content of the first entry named `name`, or nothing when there is none. An entry
  /// larger than the text limit is refused.
  Result<std::optional<std::string>> named(std::string_view name) const;
  /// The position of the first entry named `name`, or entries.size().
  std::size_t find(std::string_view name) const;
};

struct PackageFormat {
  std::string_view kind;  // the lower-case extension that names it in messages: docx, pptx, ...
  PackageLimits limits;
  /// The text parts in reading order, each entry at most once.
  Result<std::vector<ChosenPart>> (*choose_parts)(const EntryReader& reader);
  /// An entry written uncompressed (OpenDocument's mimetype, which readers find at a fixed
  /// place); empty when every entry is compressed.
  std::string_view stored_entry;
};

/// The map of a package; the package itself is read again from `source_path` on write, so
/// that file must not change in between (the slots are positional).
struct PackageDocument {
  const PackageFormat* format = nullptr;
  std::string source_path;
  std::vector<Segment> segments;   // paragraph texts, part by part in reading order
  std::vector<PackagePart> parts;  // in reading order
};

/// Reads the chosen parts of the package at `path`. Fails with "opening {path}", "reading
/// {kind} zip", "parsing {entry}", a limit message, or "no translatable text found in
/// document".
Result<PackageDocument> extract_package(const std::string& path, const PackageFormat& format);

/// Writes the translated package to `output_path` through a temporary file beside it, so
/// that a failure leaves nothing behind and `output_path` may name the source itself.
/// Every entry is copied in the source order, dated 1980-01-01 with Unix mode 0644, DEFLATE
/// level 6 except the format's stored entry. Reached through write_document, which has
/// checked the count of translations.
Result<void> write_package(const PackageDocument& document, const Translations& translations,
                           const std::string& output_path);

}  // namespace quorvel
