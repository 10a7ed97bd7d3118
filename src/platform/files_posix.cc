#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/files.h"
#include "platform/files_common.h"

namespace quorvel {
namespace {

std::string system_error(int err) {
  return std::strerror(err);
}

std::unexpected<Error> reading_error(const std::string& path, int err) {
  return fail(ErrorKind::io, fmt::format("reading {}", path), system_error(err));
}

std::unexpected<Error> system_failure(int err) {
  return fail(ErrorKind::io, system_error(err), system_error(err));
}

constexpr const char* NOT_A_FILE = "not a regular file";

// Closes on scope exit; reads and writes retry after signals.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Writes everything or returns the errno of the failure (0 on success).
int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

std::string directory_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string file_name_of(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name unlikely to collide; O_EXCL settles any collision that happens anyway.
std::string temp_suffix() {
  static std::atomic<unsigned> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  auto mix = static_cast<unsigned long long>(now) ^
             (static_cast<unsigned long long>(::getpid()) << 32) ^
             (counter++ * 0x9E3779B97F4A7C15ull);
  static constexpr char DIGITS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 8; ++i) {
    s += DIGITS[mix % 36];
    mix /= 36;
  }
  return s;
}

// Replacing a symbolic link with a regular file would cut the link; write where it points.
std::string resolve_target(const std::string& target) {
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
  char* real = ::realpath(target.c_str(), nullptr);
  if (real == nullptr) return target;  // a dangling link is replaced like a file
  std::string resolved = real;
  std::free(real);
  return resolved;
}

}  // namespace

Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes) {
  if (has_nul_byte(path)) return fail(ErrorKind::io, fmt::format("reading {}", path), NUL_IN_PATH);
  Descriptor fd(open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return reading_error(path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return reading_error(path, errno);
  if (S_ISDIR(st.st_mode)) return reading_error(path, EISDIR);
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > max_bytes) {
    return too_large(path, max_bytes);
  }

  std::string content;
  if (S_ISREG(st.st_mode)) content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return reading_error(path, errno);
    }
    if (n == 0) break;
    if (content.size() + static_cast<std::size_t>(n) > max_bytes) return too_large(path, max_bytes);
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

void PendingFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!done_) {
    ::unlink(temp_path_.c_str());
    done_ = true;
  }
}

Result<PendingFile> PendingFile::create(const std::string& target) {
  if (has_nul_byte(target)) return fail(ErrorKind::io, NUL_IN_PATH, NUL_IN_PATH);
  std::string resolved = resolve_target(target);
  struct stat st;
  bool replaces_file = false;
  if (::stat(resolved.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return system_failure(EISDIR);
    // A device, pipe or socket would be replaced by a regular file (for root even /dev/null),
    // and writing into it instead could block forever: neither is a translated copy.
    if (!S_ISREG(st.st_mode)) return fail(ErrorKind::io, NOT_A_FILE, NOT_A_FILE);
    replaces_file = true;
  }

  remove_stale_temporaries(directory_of(resolved));
  // Keep the temporary name within NAME_MAX however long the target's name is.
  std::string base = file_name_of(resolved).substr(0, NAME_MAX - 32);
  std::string prefix = directory_of(resolved) + "/." + base + ".tmp-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = prefix + temp_suffix();
    int fd = open_retrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return system_failure(errno);
    }
    struct stat created;
    unsigned mode = 0644;
    if (replaces_file) {
      mode = st.st_mode & 07777;
    } else if (::fstat(fd, &created) == 0) {
      mode = created.st_mode & 07777;  // 0666 less the process umask
    }
    return PendingFile(resolved, temp, fd, mode);
  }
  return system_failure(EEXIST);
}

Result<void> PendingFile::write(std::string_view bytes) {
  if (fd_ < 0) return system_failure(EBADF);
  if (int err = write_all(fd_, bytes)) return system_failure(err);
  return {};
}

Result<void> PendingFile::close_descriptor() {
  if (fd_ < 0) return {};
  int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) return system_failure(errno);
  return {};
}

Result<void> PendingFile::commit() {
  if (done_) return system_failure(EBADF);
  if (fd_ < 0) {
    // Another writer may have replaced the file by path: flush the file now there.
    fd_ = open_retrying(temp_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return system_failure(errno);
  }
  if (::fchmod(fd_, mode_) != 0) return system_failure(errno);
  if (::fsync(fd_) != 0) return system_failure(errno);
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return system_failure(errno);
  if (::rename(temp_path_.c_str(), target_.c_str()) != 0) return system_failure(errno);
  done_ = true;

  // Make the rename itself durable; a failure here no longer endangers any content.
  int dir = open_retrying(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

std::string file_fingerprint(const std::string& path) {
  constexpr std::size_t SAMPLE = 1 << 20;
  if (has_nul_byte(path)) return {};
  Descriptor file(open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0) return {};
  const auto size = static_cast<std::uint64_t>(st.st_size);
  std::string sample(static_cast<std::size_t>(std::min<std::uint64_t>(size, 2 * SAMPLE)), '\0');
  const std::size_t head = std::min(sample.size(), SAMPLE);
  const std::size_t tail = sample.size() - head;
  if (::pread(file.get(), sample.data(), head, 0) != static_cast<ssize_t>(head) ||
      ::pread(file.get(), sample.data() + head, tail, static_cast<off_t>(size - tail)) !=
          static_cast<ssize_t>(tail)) {
    return {};
  }
  char* real = ::realpath(path.c_str(), nullptr);
  std::string resolved = real ? real : path;
  std::free(real);
  return fmt::format("{} {}:{} {} {}.{:09} {:016x}", resolved, st.st_dev, st.st_ino, size,
                     st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                     XXH3_64bits(sample.data(), sample.size()));
}

std::string file_identity(const std::string& path) {
  struct stat info {};
  if (has_nul_byte(path) || ::stat(path.c_str(), &info) != 0) return {};
  return fmt::format("{}:{}:{}:{}.{}", info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                     info.st_mtim.tv_nsec);
}

Result<ReadStream> open_read_stream(const std::string& path) {
  if (has_nul_byte(path)) return fail(ErrorKind::io, NUL_IN_PATH, NUL_IN_PATH);
  int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return system_failure(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return system_failure(err);
  }
  FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    int err = errno;
    ::close(fd);
    return system_failure(err);
  }
  return ReadStream{file, static_cast<std::uint64_t>(st.st_size)};
}

std::error_code create_private_file(const std::filesystem::path& folder,
                                    const std::filesystem::path& file) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return {errno, std::generic_category()};
  }
  int fd = open_retrying(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return {errno, std::generic_category()};
  ::fchmod(fd, 0600);
  ::close(fd);
  return {};
}

void restrict_to_owner(const std::filesystem::path& folder) {
  ::chmod(folder.c_str(), 0700);
}

Result<GrowingFile> GrowingFile::open(const std::filesystem::path& path) {
  int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return system_failure(errno);
  return GrowingFile(fd);
}

GrowingFile::GrowingFile(GrowingFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

GrowingFile::~GrowingFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::uint64_t> GrowingFile::seek_end() {
  off_t at = ::lseek(fd_, 0, SEEK_END);
  if (at < 0) return system_failure(errno);
  return static_cast<std::uint64_t>(at);
}

Result<void> GrowingFile::truncate() {
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return system_failure(errno);
  return {};
}

Result<void> GrowingFile::write(std::string_view bytes) {
  if (int err = write_all(fd_, bytes)) return system_failure(err);
  return {};
}

Result<void> GrowingFile::sync_and_close() {
  int synced = ::fsync(fd_);
  int err = errno;
  ::close(std::exchange(fd_, -1));
  if (synced != 0) return system_failure(err);
  return {};
}

}  // namespace quorvel
