#include "translation/doc/package/zip.h"

#include <fmt/core.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/files.h"
#include "translation/doc/limits.h"

namespace quorvel {
namespace {

std::string archive_error(zip_t* archive) {
  return zip_strerror(archive);
}

}  // namespace

std::unexpected<Error> ZipArchive::limit_error(std::string what) const {
  return fail(ErrorKind::limit, fmt::format("reading {} zip: {}", kind_, what));
}

std::string ZipArchive::entry_overflow_message(const std::string& name) const {
  return fmt::format("reading {} zip: entry {} holds more than its recorded size", kind_, name);
}

Result<ZipArchive> ZipArchive::open(const std::string& path, const std::string& open_message,
                                    const std::optional<std::string>& archive_message,
                                    std::string_view kind, const PackageLimits& limits) {
  if (has_nul_byte(path)) return fail(ErrorKind::io, open_message, NUL_IN_PATH);
  auto opened = open_read_stream(path);
  if (!opened) return fail(ErrorKind::io, open_message, opened.error().cause);
  FILE* file = opened->stream;

  zip_error_t error;
  zip_error_init(&error);
  auto archive_failure = [&] {
    std::string cause = zip_error_strerror(&error);
    zip_error_fini(&error);
    return fail(ErrorKind::format, archive_message.value_or(cause), cause);
  };
  // From here on the zip source owns the file and closes it.
  zip_source_t* source = zip_source_filep_create(file, 0, -1, &error);
  if (source == nullptr) {
    std::fclose(file);
    return archive_failure();
  }
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (archive == nullptr) {
    zip_source_free(source);
    return archive_failure();
  }
  zip_error_fini(&error);
  return ZipArchive(archive, opened->size, kind, limits);
}

ZipArchive::ZipArchive(ZipArchive&& other) noexcept
    : archive_(std::exchange(other.archive_, nullptr)),
      file_size_(other.file_size_),
      kind_(other.kind_),
      limits_(other.limits_) {}

ZipArchive::~ZipArchive() {
  if (archive_ != nullptr) zip_discard(archive_);
}

Result<std::vector<ZipEntry>> ZipArchive::entries() const {
  zip_int64_t count = zip_get_num_entries(archive_, 0);
  if (count < 0) return fail(ErrorKind::format, archive_error(archive_));
  if (static_cast<std::uint64_t>(count) > limits_->entries) {
    return limit_error(fmt::format("more than {} entries", limits_->entries));
  }
  std::vector<ZipEntry> entries;
  entries.reserve(static_cast<std::size_t>(count));
  std::uint64_t total_size = 0;        // entries and their sizes are bounded: no overflow
  std::uint64_t total_compressed = 0;  // never more than file_size_
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive_, i, ZIP_FL_ENC_RAW, &st) != 0) {
      return fail(ErrorKind::format, archive_error(archive_));
    }
    if ((st.valid & ZIP_STAT_NAME) == 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
        (st.valid & ZIP_STAT_COMP_SIZE) == 0) {
      return fail(ErrorKind::format, "Zip archive inconsistent");
    }
    ZipEntry entry{st.name, st.size, st.comp_size};
    if (entry.size > limits_->entry_bytes) {
      return limit_error(fmt::format("entry {} is larger than the 4 GiB entry limit", entry.name));
    }
    if (limits_->too_dense(entry.size, entry.compressed_size)) {
      return limit_error(fmt::format("entry {} expands more than {} times (a zip bomb)", entry.name,
                                     limits_->inflate_ratio));
    }
    // Entries occupy separate stretches of the file, so their compressed sizes add up to no
    // more than its size, unless they point at the same data. Each addend is checked
    // against the file size first, so the sum cannot overflow.
    if (entry.compressed_size > file_size_ - total_compressed) {
      return limit_error("entries share their compressed data (a zip bomb)");
    }
    total_compressed += entry.compressed_size;
    total_size += entry.size;
    entries.push_back(std::move(entry));
  }
  if (total_size > limits_->package_bytes) {
    return limit_error(fmt::format("the entries expand to more than the {} GiB package limit",
                                   limits_->package_bytes / (1024 * MIB)));
  }
  return entries;
}

Result<std::string> ZipArchive::read(std::uint64_t index, std::uint64_t size) const {
  zip_file_t* file = zip_fopen_index(archive_, index, 0);
  if (file == nullptr) return fail(ErrorKind::format, archive_error(archive_));
  auto file_failure = [&] {
    std::string message = zip_file_strerror(file);
    zip_fclose(file);
    return fail(ErrorKind::format, message, message);
  };

  std::string content(static_cast<std::size_t>(size), '\0');
  std::size_t filled = 0;
  while (filled < content.size()) {
    zip_int64_t n = zip_fread(file, content.data() + filled, content.size() - filled);
    if (n < 0) return file_failure();
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  content.resize(filled);
  // One more read reaches the end of the data, where the checksum is verified, or shows
  // that the entry holds more than it claims.
  char probe;
  zip_int64_t extra = zip_fread(file, &probe, 1);
  if (extra < 0) return file_failure();
  if (extra > 0) {
    const char* name = zip_get_name(archive_, index, ZIP_FL_ENC_RAW);
    zip_fclose(file);
    return fail(ErrorKind::limit, entry_overflow_message(name ? name : "?"));
  }
  zip_fclose(file);
  return content;
}

}  // namespace quorvel
