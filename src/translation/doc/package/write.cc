#include <fmt/core.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "translation/doc/package/package.h"
#include "translation/doc/package/zip.h"

namespace quorvel {
namespace {

// What the writer shares with the entry sources while libzip writes the package.
struct WriteJob {
  const ZipArchive& source;
  const PackageDocument& document;
  const Translations& translations;
  std::optional<Error> error;  // the first failure, in our own words
};

// One output entry, produced when libzip asks for it: a copied entry streams from the
// source archive in small reads; a text part is read and rewritten whole, and its buffer is
// dropped as soon as it has been written. Only one entry's data is held at a time.
class EntrySource {
 public:
  EntrySource(WriteJob& job, std::uint64_t index, ZipEntry entry, const PackagePart* part)
      : job_(job), index_(index), entry_(std::move(entry)), part_(part) {
    zip_error_init(&error_);
  }
  ~EntrySource() {
    if (file_ != nullptr) zip_fclose(file_);
    zip_error_fini(&error_);
  }

  static zip_int64_t callback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
    auto* self = static_cast<EntrySource*>(user);
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        return self->open();
      case ZIP_SOURCE_READ:
        return self->read(static_cast<char*>(data), length);
      case ZIP_SOURCE_CLOSE:
        return self->close();
      case ZIP_SOURCE_STAT:
        return self->stat(data, length);
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->error_, data, length);
      case ZIP_SOURCE_FREE:
        delete self;
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      default:
        zip_error_set(&self->error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

 private:
  zip_int64_t failed(Error error) {
    if (!job_.error) job_.error = std::move(error);
    zip_error_set(&error_, ZIP_ER_CANCELLED, 0);
    return -1;
  }

  // Knowing the size up front keeps libzip from adding 64-bit size fields to every entry.
  zip_int64_t stat(void* data, zip_uint64_t length) {
    auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
    if (st == nullptr) return -1;
    zip_stat_init(st);
    if (part_ != nullptr && !rewritten_size_) {
      if (prepare_part() < 0) return -1;
    }
    st->size = part_ != nullptr ? *rewritten_size_ : entry_.size;
    st->valid |= ZIP_STAT_SIZE;
    return sizeof(zip_stat_t);
  }

  zip_int64_t prepare_part() {
    auto xml = job_.source.read(index_, entry_.size);
    if (!xml) return failed(xml.error());
    auto rewritten =
        part_->reader->rewrite(*xml, part_->slots, job_.document.segments, job_.translations);
    if (!rewritten) {
      return failed(Error{rewritten.error().kind, fmt::format("rewriting {}", entry_.name),
                          rewritten.error().message});
    }
    buffer_ = std::move(*rewritten);
    rewritten_size_ = buffer_.size();
    ready_ = true;
    return 0;
  }

  zip_int64_t open() {
    offset_ = 0;
    delivered_ = 0;
    if (part_ != nullptr) return ready_ ? 0 : prepare_part();
    file_ = zip_fopen_index(job_.source.get(), index_, 0);
    if (file_ == nullptr) {
      std::string message = zip_strerror(job_.source.get());
      return failed(Error{ErrorKind::format, message, message});
    }
    return 0;
  }

  zip_int64_t read(char* data, zip_uint64_t length) {
    if (part_ != nullptr) {
      std::size_t n = std::min<std::size_t>(length, buffer_.size() - offset_);
      std::copy_n(buffer_.data() + offset_, n, data);
      offset_ += n;
      return static_cast<zip_int64_t>(n);
    }
    zip_int64_t n = zip_fread(file_, data, length);
    if (n < 0) {
      std::string message = zip_file_strerror(file_);
      return failed(Error{ErrorKind::format, message, message});
    }
    // A bomb that lies about its size in the directory stops here, not at a full disk.
    delivered_ += static_cast<std::uint64_t>(n);
    if (delivered_ > entry_.size) {
      return failed(Error{ErrorKind::limit, job_.source.entry_overflow_message(entry_.name), {}});
    }
    return n;
  }

  zip_int64_t close() {
    if (file_ != nullptr) {
      zip_fclose(file_);
      file_ = nullptr;
    }
    std::string().swap(buffer_);  // the size stays known for libzip's second stat
    ready_ = false;
    return 0;
  }

  WriteJob& job_;
  std::uint64_t index_;
  ZipEntry entry_;
  const PackagePart* part_;
  zip_error_t error_;
  zip_file_t* file_ = nullptr;
  std::string buffer_;
  std::optional<std::size_t> rewritten_size_;
  bool ready_ = false;  // buffer_ holds the rewritten part
  std::size_t offset_ = 0;
  std::uint64_t delivered_ = 0;
};

const PackagePart* find_part(const PackageDocument& document, const std::string& name) {
  for (const auto& part : document.parts) {
    if (part.name == name) return &part;
  }
  return nullptr;
}

Error archive_failure(zip_t* archive) {
  std::string message = zip_strerror(archive);
  return Error{ErrorKind::io, message, message};
}

// Adds every source entry to `out` with the fixed options; the data is produced later,
// while zip_close writes the package.
Result<void> add_entries(zip_t* out, WriteJob& job, const std::vector<ZipEntry>& entries,
                         const std::set<std::string>& uncompressed) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto* entry = new EntrySource(job, i, entries[i], find_part(job.document, entries[i].name));
    zip_source_t* source = zip_source_function(out, EntrySource::callback, entry);
    if (source == nullptr) {
      delete entry;
      return std::unexpected(archive_failure(out));
    }
    zip_int64_t index = zip_file_add(out, entries[i].name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      return std::unexpected(archive_failure(out));
    }
    auto at = static_cast<zip_uint64_t>(index);
    const bool stored = entries[i].name == job.document.format->stored_entry ||
                        uncompressed.contains(entries[i].name);
    if (zip_set_file_compression(out, at, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, stored ? 0 : 6) !=
            0 ||
        zip_file_set_dostime(out, at, 0x0000, 0x0021, 0) != 0 ||  // 1980-01-01 00:00:00
        zip_file_set_external_attributes(out, at, 0, ZIP_OPSYS_UNIX, 0100644u << 16) != 0) {
      return std::unexpected(archive_failure(out));
    }
  }
  return {};
}

// The entries of the package written at `path` that its reader would refuse as too
// dense: deflating at our level can pack an entry far tighter than its source did (a stored
// run of zeros shrinks a thousandfold), and then the translated file could not be read back.
std::set<std::string> too_dense_entries(const std::string& path, const PackageLimits& limits) {
  std::set<std::string> names;
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (archive == nullptr) return names;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0) continue;
    if (limits.too_dense(st.size, st.comp_size)) names.insert(st.name);
  }
  zip_discard(archive);
  return names;
}

}  // namespace

Result<void> write_package(const PackageDocument& document, const Translations& translations,
                           const std::string& output_path) {
  const std::string& source_path = document.source_path;
  const PackageFormat& format = *document.format;
  auto source = ZipArchive::open(source_path, fmt::format("re-opening {}", source_path), {},
                                 format.kind, format.limits);
  if (!source) return std::unexpected(source.error());
  auto entries = source->entries();
  if (!entries) return std::unexpected(entries.error());

  // libzip writes the package to a temporary file of its own and renames it onto ours; the
  // result replaces the output only once it is complete and on disk.
  auto creating = [&](const std::string& cause) {
    return fail(ErrorKind::io, fmt::format("creating {}", output_path), cause);
  };
  auto pending = PendingFile::create(output_path);
  if (!pending) return creating(pending.error().cause);
  if (auto closed = pending->close_descriptor(); !closed) return creating(closed.error().cause);
  // Entries deflated past the reading limit are written again stored; stored, an entry is
  // its own size, so the second pass always reads back.
  std::set<std::string> uncompressed;
  for (int pass = 0; pass < 2; ++pass) {
    int zip_error_code = 0;
    zip_t* out = zip_open(pending->temp_path().c_str(), ZIP_TRUNCATE, &zip_error_code);
    if (out == nullptr) {
      zip_error_t error;
      zip_error_init_with_code(&error, zip_error_code);
      std::string cause = zip_error_strerror(&error);
      zip_error_fini(&error);
      return creating(cause);
    }
    WriteJob job{*source, document, translations, std::nullopt};
    auto added = add_entries(out, job, *entries, uncompressed);
    if (!added) {
      zip_discard(out);
      return std::unexpected(added.error());
    }
    if (zip_close(out) != 0) {
      Error error = job.error ? *job.error : archive_failure(out);
      zip_discard(out);
      return std::unexpected(error);
    }
    auto dense = too_dense_entries(pending->temp_path(), format.limits);
    if (dense.empty()) break;
    uncompressed.merge(dense);
  }
  if (auto committed = pending->commit(); !committed) {
    return fail(ErrorKind::io, fmt::format("writing {}", output_path), committed.error().cause);
  }
  return {};
}

}  // namespace quorvel
