#include "platform/files.h"

#include <fmt/core.h>

#include <algorithm>
#include <utility>

#include "platform/files_common.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace quorvel {

namespace {

std::string describe_size(std::uint64_t bytes) {
  constexpr std::uint64_t MIB = 1024 * 1024;
  if (bytes % MIB == 0) return fmt::format("{} MiB", bytes / MIB);
  return fmt::format("{} bytes", bytes);
}

}  // namespace

bool is_temporary_file_name(std::string_view name) {
  auto alnum = [](std::string_view text, bool upper_too) {
    return std::all_of(text.begin(), text.end(), [&](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
             (upper_too && c >= 'A' && c <= 'Z');
    });
  };
  if (!name.starts_with('.')) return false;
  const auto marker = name.rfind(".tmp-");
  if (marker == std::string_view::npos || marker == 0) return false;
  std::string_view rest = name.substr(marker + 5);
  if (rest.size() == 8) return alnum(rest, false);
  // libzip adds 6 characters on POSIX systems, 8 hexadecimal digits on Windows.
  return rest.size() >= 15 && rest.size() <= 17 && rest[8] == '.' &&
         alnum(rest.substr(0, 8), false) && alnum(rest.substr(9), true);
}

void remove_stale_temporaries(const std::filesystem::path& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    if (!is_temporary_file_name(path_to_utf8(it->path().filename()))) continue;
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
    const auto written = it->last_write_time(ignored);
    if (!ignored && now - written > STALE_TEMPORARY_AGE) fs::remove(it->path(), ignored);
  }
}

std::unexpected<Error> too_large(const std::string& path, std::uint64_t max_bytes) {
  return fail(ErrorKind::limit, fmt::format("reading {}: the file is larger than the {} limit",
                                            path, describe_size(max_bytes)));
}

Result<std::string> read_text_file(const std::string& path, std::uint64_t max_bytes) {
  auto content = read_file(path, max_bytes);
  if (!content) return content;
  if (!is_valid_utf8(*content)) {
    return fail(ErrorKind::format, fmt::format("reading {}", path),
                "stream did not contain valid UTF-8");
  }
  return content;
}

PendingFile::PendingFile(std::string target, std::string temp_path, int fd, unsigned mode)
    : target_(std::move(target)), temp_path_(std::move(temp_path)), fd_(fd), mode_(mode) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_path_(std::move(other.temp_path_)),
      fd_(std::exchange(other.fd_, -1)),
      mode_(other.mode_),
      done_(std::exchange(other.done_, true)) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    target_ = std::move(other.target_);
    temp_path_ = std::move(other.temp_path_);
    fd_ = std::exchange(other.fd_, -1);
    mode_ = other.mode_;
    done_ = std::exchange(other.done_, true);
  }
  return *this;
}

PendingFile::~PendingFile() {
  discard();
}

Result<void> check_writable(const std::string& target) {
  auto pending = PendingFile::create(target);
  if (!pending) return std::unexpected(pending.error());
  return {};
}

Result<void> write_file_atomic(const std::string& path, std::string_view content) {
  auto wrap = [&](const Error& e) {
    return fail(ErrorKind::io, fmt::format("writing {}", path), e.cause);
  };
  auto file = PendingFile::create(path);
  if (!file) return wrap(file.error());
  if (auto written = file->write(content); !written) return wrap(written.error());
  if (auto committed = file->commit(); !committed) return wrap(committed.error());
  return {};
}

}  // namespace quorvel
