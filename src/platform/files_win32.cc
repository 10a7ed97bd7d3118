#include <fcntl.h>
#include <fmt/core.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/files.h"
#include "platform/files_common.h"
#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace quorvel {
namespace {

std::string system_error(int err) {
  return std::strerror(err);
}

std::unexpected<Error> reading_error(const std::string& path, std::string cause) {
  return fail(ErrorKind::io, fmt::format("reading {}", path), std::move(cause));
}

std::unexpected<Error> system_failure(std::string text) {
  return fail(ErrorKind::io, text, text);
}

std::unexpected<Error> errno_failure(int err) {
  return system_failure(system_error(err));
}

std::unexpected<Error> last_error_failure() {
  return system_failure(system_message(GetLastError()));
}

constexpr const char* NOT_A_FILE = "not a regular file";

// Descriptors of the C runtime over wide-character paths; none is inherited by children.
int open_file(const std::string& path, int flags, int mode = _S_IREAD | _S_IWRITE) {
  return _wopen(to_wide(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) _close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Writes everything or returns the errno of the failure (0 on success).
int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
    int n = _write(fd, bytes.data(), chunk);
    if (n < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Either separator ends the directory part.
std::size_t last_separator(const std::string& path) {
  return path.find_last_of("/\\");
}

std::string directory_of(const std::string& path) {
  auto slash = last_separator(path);
  if (slash == std::string::npos) {
    // "C:name" lies in the current directory of drive C.
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  }
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string file_name_of(const std::string& path) {
  auto slash = last_separator(path);
  if (slash == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
  return path.substr(slash + 1);
}

std::string joined(const std::string& directory, const std::string& name) {
  if (directory.ends_with('/') || directory.ends_with('\\') || directory.ends_with(':')) {
    return directory + name;
  }
  return directory + "\\" + name;
}

// A name unlikely to collide; _O_EXCL settles any collision that happens anyway.
std::string temp_suffix() {
  static std::atomic<unsigned> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  auto mix = static_cast<unsigned long long>(now) ^
             (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
             (counter++ * 0x9E3779B97F4A7C15ull);
  static constexpr char DIGITS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 8; ++i) {
    s += DIGITS[mix % 36];
    mix /= 36;
  }
  return s;
}

struct FileFacts {
  BY_HANDLE_FILE_INFORMATION info{};
  bool regular = false;
  std::wstring final_path;
};

// Facts of the file `path` names, links followed; nothing when it cannot be opened.
std::optional<FileFacts> file_facts(const std::wstring& path) {
  HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  FileFacts facts;
  bool ok = GetFileInformationByHandle(handle, &facts.info) != 0;
  facts.regular = ok && GetFileType(handle) == FILE_TYPE_DISK &&
                  (facts.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  wchar_t buffer[MAX_PATH * 4];
  DWORD length =
      GetFinalPathNameByHandleW(handle, buffer, static_cast<DWORD>(std::size(buffer)), 0);
  if (length > 0 && length < std::size(buffer)) facts.final_path.assign(buffer, length);
  CloseHandle(handle);
  if (!ok) return std::nullopt;
  return facts;
}

// Replacing a symbolic link with a regular file would cut the link; write where it points.
std::string resolve_target(const std::string& target) {
  std::wstring wide = to_wide(target);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return target;
  }
  auto facts = file_facts(wide);
  if (!facts || facts->final_path.empty()) return target;  // a dangling link is replaced
  return from_wide(facts->final_path);
}

}  // namespace

Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes) {
  if (has_nul_byte(path)) return reading_error(path, NUL_IN_PATH);
  Descriptor fd(open_file(path, _O_RDONLY));
  if (fd.get() < 0) return reading_error(path, system_error(errno));
  struct _stat64 st;
  if (_fstat64(fd.get(), &st) != 0) return reading_error(path, system_error(errno));
  if ((st.st_mode & _S_IFMT) == _S_IFDIR) return reading_error(path, system_error(EISDIR));
  const bool regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  if (regular && static_cast<std::uint64_t>(st.st_size) > max_bytes) {
    return too_large(path, max_bytes);
  }
  std::string content;
  if (regular) content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (;;) {
    int n = _read(fd.get(), buffer, sizeof buffer);
    if (n < 0) return reading_error(path, system_error(errno));
    if (n == 0) break;
    if (content.size() + static_cast<std::size_t>(n) > max_bytes) return too_large(path, max_bytes);
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

void PendingFile::discard() {
  if (fd_ >= 0) {
    _close(fd_);
    fd_ = -1;
  }
  if (!done_) {
    DeleteFileW(to_wide(temp_path_).c_str());
    done_ = true;
  }
}

Result<PendingFile> PendingFile::create(const std::string& target) {
  if (has_nul_byte(target)) return fail(ErrorKind::io, NUL_IN_PATH, NUL_IN_PATH);
  std::string resolved = resolve_target(target);
  std::wstring wide = to_wide(resolved);
  unsigned mode = _S_IREAD | _S_IWRITE;
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return errno_failure(EISDIR);
    auto facts = file_facts(wide);
    // A device (NUL, CON, a pipe) would be replaced by a file, or block: neither is a copy.
    if (facts && !facts->regular) return fail(ErrorKind::io, NOT_A_FILE, NOT_A_FILE);
    if (attributes & FILE_ATTRIBUTE_READONLY) mode = _S_IREAD;
  }

  remove_stale_temporaries(path_from_utf8(directory_of(resolved)));
  // Keep the temporary name within the 255 characters of a name however long the target's.
  std::string base = file_name_of(resolved).substr(0, 255 - 32);
  std::string prefix = joined(directory_of(resolved), "." + base + ".tmp-");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = prefix + temp_suffix();
    int fd = open_file(temp, _O_WRONLY | _O_CREAT | _O_EXCL);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno_failure(errno);
    }
    return PendingFile(resolved, temp, fd, mode);
  }
  return errno_failure(EEXIST);
}

Result<void> PendingFile::write(std::string_view bytes) {
  if (fd_ < 0) return errno_failure(EBADF);
  if (int err = write_all(fd_, bytes)) return errno_failure(err);
  return {};
}

Result<void> PendingFile::close_descriptor() {
  if (fd_ < 0) return {};
  if (_close(std::exchange(fd_, -1)) != 0) return errno_failure(errno);
  return {};
}

Result<void> PendingFile::commit() {
  if (done_) return errno_failure(EBADF);
  if (fd_ < 0) {
    // Another writer may have replaced the file by path: flush the file now there.
    fd_ = open_file(temp_path_, _O_RDWR);
    if (fd_ < 0) return errno_failure(errno);
  }
  if (_commit(fd_) != 0) return errno_failure(errno);
  if (_close(std::exchange(fd_, -1)) != 0) return errno_failure(errno);
  // The replaced file's read-only mark carries over, as its permission bits do elsewhere.
  if (mode_ == _S_IREAD) {
    std::wstring temp = to_wide(temp_path_);
    SetFileAttributesW(temp.c_str(), GetFileAttributesW(temp.c_str()) | FILE_ATTRIBUTE_READONLY);
  }
  // Write-through: the rename is on disk when the call returns.
  if (!MoveFileExW(to_wide(temp_path_).c_str(), to_wide(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return last_error_failure();
  }
  done_ = true;
  return {};
}

std::string file_fingerprint(const std::string& path) {
  constexpr std::size_t SAMPLE = 1 << 20;
  if (has_nul_byte(path)) return {};
  std::wstring wide = to_wide(path);
  auto facts = file_facts(wide);
  Descriptor file(open_file(path, _O_RDONLY));
  if (!facts || file.get() < 0) return {};
  const std::uint64_t size =
      (static_cast<std::uint64_t>(facts->info.nFileSizeHigh) << 32) | facts->info.nFileSizeLow;
  std::string sample(static_cast<std::size_t>(std::min<std::uint64_t>(size, 2 * SAMPLE)), '\0');
  const std::size_t head = std::min(sample.size(), SAMPLE);
  const std::size_t tail = sample.size() - head;
  auto read_at = [&](char* into, std::size_t count, std::uint64_t offset) {
    if (_lseeki64(file.get(), static_cast<__int64>(offset), SEEK_SET) < 0) return false;
    return _read(file.get(), into, static_cast<unsigned>(count)) == static_cast<int>(count);
  };
  if (!read_at(sample.data(), head, 0) || !read_at(sample.data() + head, tail, size - tail)) {
    return {};
  }
  const std::uint64_t written =
      (static_cast<std::uint64_t>(facts->info.ftLastWriteTime.dwHighDateTime) << 32) |
      facts->info.ftLastWriteTime.dwLowDateTime;
  return fmt::format("{} {}:{}.{} {} {} {:016x}", from_wide(facts->final_path),
                     facts->info.dwVolumeSerialNumber, facts->info.nFileIndexHigh,
                     facts->info.nFileIndexLow, size, written,
                     XXH3_64bits(sample.data(), sample.size()));
}

std::string file_identity(const std::string& path) {
  if (has_nul_byte(path)) return {};
  auto facts = file_facts(to_wide(path));
  if (!facts) return {};
  const auto& info = facts->info;
  return fmt::format("{}:{}.{}:{}.{}:{}.{}", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                     info.nFileIndexLow, info.nFileSizeHigh, info.nFileSizeLow,
                     info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
}

Result<ReadStream> open_read_stream(const std::string& path) {
  if (has_nul_byte(path)) return fail(ErrorKind::io, NUL_IN_PATH, NUL_IN_PATH);
  int fd = open_file(path, _O_RDONLY);
  if (fd < 0) return errno_failure(errno);
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0) {
    int err = errno;
    _close(fd);
    return errno_failure(err);
  }
  FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) {
    int err = errno;
    _close(fd);
    return errno_failure(err);
  }
  return ReadStream{file, static_cast<std::uint64_t>(st.st_size)};
}

// Folders under the user's profile are the user's alone already; nothing to narrow.
std::error_code create_private_file(const std::filesystem::path& folder,
                                    const std::filesystem::path& file) {
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  int fd =
      _wopen(file.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return {errno, std::generic_category()};
  _close(fd);
  return {};
}

void restrict_to_owner(const std::filesystem::path&) {}

Result<GrowingFile> GrowingFile::open(const std::filesystem::path& path) {
  int fd =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno_failure(errno);
  return GrowingFile(fd);
}

GrowingFile::GrowingFile(GrowingFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

GrowingFile::~GrowingFile() {
  if (fd_ >= 0) _close(fd_);
}

Result<std::uint64_t> GrowingFile::seek_end() {
  __int64 at = _lseeki64(fd_, 0, SEEK_END);
  if (at < 0) return errno_failure(errno);
  return static_cast<std::uint64_t>(at);
}

Result<void> GrowingFile::truncate() {
  if (_chsize_s(fd_, 0) != 0 || _lseeki64(fd_, 0, SEEK_SET) != 0) return errno_failure(errno);
  return {};
}

Result<void> GrowingFile::write(std::string_view bytes) {
  if (int err = write_all(fd_, bytes)) return errno_failure(err);
  return {};
}

Result<void> GrowingFile::sync_and_close() {
  int synced = _commit(fd_);
  int err = errno;
  _close(std::exchange(fd_, -1));
  if (synced != 0) return errno_failure(err);
  return {};
}

}  // namespace quorvel
