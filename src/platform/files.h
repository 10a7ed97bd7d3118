#pragma once
// Whole-file reads with a size bound, and writes that never leave a half-written file: the
// new content goes to a temporary file in the target's directory, is flushed to disk and
// only then renamed over the target.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/error.h"

namespace quorvel {

/// The system reads a path only up to its first NUL byte, so a path holding one would name
/// another file than the one asked for (such as the input of a translation). Such paths are
/// refused with this cause.
inline constexpr const char* NUL_IN_PATH = "the path contains a NUL byte";

inline bool has_nul_byte(std::string_view path) {
  return path.find('\0') != std::string_view::npos;
}

/// Reads the whole file. Fails with "reading {path}" (the system error as cause), or with a
/// message naming the limit when the file holds more than `max_bytes`; the size is checked
/// before anything is read, and again while reading in case the file grows. A path with a
/// NUL byte names no file and fails too (paths below are refused the same way).
Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes);

/// Like read_file, and the content must be valid UTF-8 ("reading {path}" otherwise).
Result<std::string> read_text_file(const std::string& path, std::uint64_t max_bytes);

/// The future content of `target`, written to a temporary file beside it. Until commit()
/// succeeds, the target is untouched; the temporary file is removed when a PendingFile is
/// destroyed without a successful commit. Errors carry the system error text as message
/// (and as cause); callers word them in their own terms.
class PendingFile {
 public:
  /// Creates the temporary file in the directory of `target` (of the file it links to, if
  /// `target` is a symbolic link). The committed file gets the permission bits of the file
  /// it replaces, or the usual bits of a new file. A target that exists and is not a
  /// regular file (a directory, a device, a pipe) is refused.
  static Result<PendingFile> create(const std::string& target);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  const std::string& temp_path() const { return temp_path_; }

  /// Appends to the temporary file through its open descriptor.
  Result<void> write(std::string_view bytes);

  /// Closes the descriptor so that another writer can replace the temporary file by path
  /// (the zip library writes its own temporary file and renames it onto ours).
  Result<void> close_descriptor();

  /// Flushes the temporary file to disk and renames it over the target.
  Result<void> commit();

 private:
  PendingFile(std::string target, std::string temp_path, int fd, unsigned mode);
  void discard();

  std::string target_;
  std::string temp_path_;
  int fd_ = -1;
  unsigned mode_ = 0;
  bool done_ = false;
};

/// Whether `target` can be written now: a PendingFile for it is made and removed again, so
/// every reason a later write would fail at the start (a missing or read-only folder, a
/// target that is a folder or a device) shows here. The error's message is the reason.
Result<void> check_writable(const std::string& target);

/// A short text that changes whenever the file at `path` does, read cheaply however large
/// the file: its resolved path, device, inode, size and modification time, and a hash of its
/// first and last MiB. Empty when the file cannot be read.
std::string file_fingerprint(const std::string& path);

/// A cheap identity of the file at `path` (device, file number, size, modification time),
/// which changes when the file is replaced or written; empty when it cannot be queried.
std::string file_identity(const std::string& path);

/// A file opened for binary reading, with its size at opening.
struct ReadStream {
  std::FILE* stream = nullptr;
  std::uint64_t size = 0;
};

/// Opens `path` for binary reading; the caller closes the stream. The error's message and
/// cause are the system's text.
Result<ReadStream> open_read_stream(const std::string& path);

/// Creates the folder `folder` (its parent must exist) that only its owner may enter; an
/// existing one is fine. Then creates `file` in it if needed, readable only by its owner.
std::error_code create_private_file(const std::filesystem::path& folder,
                                    const std::filesystem::path& file);

/// Narrows an existing folder to its owner, as far as the system lets us.
void restrict_to_owner(const std::filesystem::path& folder);

/// A file written in place across runs (a download that resumes where it stopped).
class GrowingFile {
 public:
  /// Opens or creates `path` for writing. The error's message and cause are the system's text.
  static Result<GrowingFile> open(const std::filesystem::path& path);

  GrowingFile(GrowingFile&& other) noexcept;
  GrowingFile& operator=(GrowingFile&&) = delete;
  GrowingFile(const GrowingFile&) = delete;
  GrowingFile& operator=(const GrowingFile&) = delete;
  ~GrowingFile();

  /// Moves to the end, to append; returns the size there.
  Result<std::uint64_t> seek_end();
  /// Empties the file, to write it again from the start.
  Result<void> truncate();
  Result<void> write(std::string_view bytes);
  /// Flushes the file to disk and closes it.
  Result<void> sync_and_close();

 private:
  explicit GrowingFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

/// Replaces `path` with `content` through a PendingFile. Any failure, creating the
/// temporary file included, is "writing {path}" with the system error as cause; the file
/// at `path` is then unchanged.
Result<void> write_file_atomic(const std::string& path, std::string_view content);

}  // namespace quorvel
