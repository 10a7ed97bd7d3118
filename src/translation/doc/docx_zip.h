#pragma once
// Reading DOCX packages with libzip, within the limits of limits.h: the archive is opened
// read-only, its entries are listed with their recorded sizes and checked before any is
// decompressed, and no entry is ever read beyond its recorded size.

#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

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
  static Result<ZipArchive> open(const std::string& path, const std::string& open_message,
                                 const std::optional<std::string>& archive_message);

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

 private:
  ZipArchive(zip_t* archive, std::uint64_t file_size)
      : archive_(archive), file_size_(file_size) {}
  zip_t* archive_ = nullptr;
  std::uint64_t file_size_ = 0;
};

/// The message for an entry that decompresses to more than its recorded size.
std::string entry_overflow_message(const std::string& name);

}  // namespace quorvel
