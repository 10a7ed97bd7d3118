#pragma once
// Bounds that keep hostile or broken documents from exhausting memory, disk or time. Every
// refusal names the bound it hit.

#include <fmt/core.h>

#include <cstddef>
#include <cstdint>

#include "platform/error.h"

namespace quorvel {

constexpr std::uint64_t MIB = 1024 * 1024;

/// Text and subtitle files are read whole; refuse larger ones before reading.
constexpr std::uint64_t MAX_TEXT_FILE_BYTES = 256 * MIB;

/// Bounds of one zip package kind. Every kind has its own row below, so that one can be
/// widened without loosening the others.
struct PackageLimits {
  /// Sum of the uncompressed sizes of the parts that are read for text. Real documents stay
  /// far below; a larger sum means a bomb or something that is not a document.
  std::uint64_t text_bytes = 256 * MIB;
  /// Entries in one package.
  std::uint64_t entries = 100'000;
  /// Zip-bomb guard for every entry, as office-file libraries apply it: an entry may expand
  /// at most 100 times (compressed / uncompressed >= 0.01), once it is larger than 100 KiB
  /// uncompressed (small entries of repeated bytes compress better than that legitimately).
  std::uint64_t inflate_ratio = 100;
  std::uint64_t ratio_grace_bytes = 100 * 1024;
  /// Largest single entry, uncompressed (the most a zip without 64-bit extensions can hold).
  std::uint64_t entry_bytes = 0xFFFFFFFFull;
  /// Sum of the uncompressed sizes of all entries: what write-back decompresses and
  /// compresses again. Entries whose data overlap (one compressed stream listed many times)
  /// are refused separately, since no real package holds more compressed bytes than its file.
  std::uint64_t package_bytes = 4096 * MIB;

  /// Whether an entry of these sizes expands past the zip-bomb ratio.
  constexpr bool too_dense(std::uint64_t size, std::uint64_t compressed_size) const {
    return size > ratio_grace_bytes && size / inflate_ratio > compressed_size;
  }
};

constexpr PackageLimits DOCX_LIMITS{};
constexpr PackageLimits PPTX_LIMITS{};
/// Worksheets are read whole for their inline strings, and a large sheet is mostly numbers.
constexpr PackageLimits XLSX_LIMITS{.text_bytes = 1024 * MIB};
constexpr PackageLimits ODF_LIMITS{};

/// Paragraphs (or cues) in one document. Each becomes a prompt and costs the model about a
/// second, so real documents stay far below; a file of millions of one-word paragraphs
/// would otherwise take gigabytes of memory before translation even starts.
constexpr std::size_t MAX_DOCUMENT_SEGMENTS = 100'000;

inline std::unexpected<Error> too_many_segments() {
  return fail(ErrorKind::limit, fmt::format("the document has more than {} paragraphs, the limit "
                                            "for one file",
                                            MAX_DOCUMENT_SEGMENTS));
}

}  // namespace quorvel
