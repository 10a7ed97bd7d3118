#pragma once
// Reading zip packages (DOCX, PPTX, XLSX, OpenDocument) with libzip, within the limits of
// the package's kind: the archive is opened read-only, its entries are listed with their
// recorded sizes and checked before any is decompressed, and no entry is ever read beyond
// its recorded size. Messages name the package kind: "reading docx zip: ...".

#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/doc/limits.h"

namespace quorvel {

struct ZipEntry {
  std::string name;  // the name's bytes as stored
  std::uint64_t size = 0;
  std::uint64_t compressed_size = 0;
};

/// A zip archive open for reading; closed on destruction.
class ZipArchive {
 public:
  /// `open_message` is the message when the file cannot be opened; `archive_message` the one
  /// when it is not a readable zip archive (without one, the archive error is the message).
  /// `kind` (docx, pptx, ...) names the package in limit messages, `limits` bound it.
  static Result<ZipArchive> open(const std::string& path, const std::string& open_message,
                                 const std::optional<std::string>& archive_message,
                                 std::string_view kind, const PackageLimits& limits);

  ZipArchive(ZipArchive&& other) noexcept;
  ZipArchive& operator=(ZipArchive&&) = delete;
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  ~ZipArchive();

  zip_t* get() const { return archive_; }

  /// Every entry in archive order. Refuses more entries than allowed, entries larger than
  /// allowed, entries that expand beyond the zip-bomb ratio, packages that expand beyond
  /// the package limit, and entries that share their compressed data.
  Result<std::vector<ZipEntry>> entries() const;

  /// The whole content of entry `index`, whose recorded size is `size`; an entry that holds
  /// more than that is refused. Archive errors are the message.
  Result<std::string> read(std::uint64_t index, std::uint64_t size) const;

  /// The message for an entry that decompresses to more than its recorded size.
  std::string entry_overflow_message(const std::string& name) const;

 private:
  ZipArchive(zip_t* archive, std::uint64_t file_size, std::string_view kind,
             const PackageLimits& limits)
      : archive_(archive), file_size_(file_size), kind_(kind), limits_(&limits) {}
  std::unexpected<Error> limit_error(std::string what) const;

  zip_t* archive_ = nullptr;
  std::uint64_t file_size_ = 0;
  std::string_view kind_;
  const PackageLimits* limits_;
};

}  // namespace quorvel
