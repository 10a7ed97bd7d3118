#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files_common.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FileSizeLimit;
using testing::read_bytes;
using testing::TempDir;
using testing::write_bytes;

unsigned permission_bits(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(ReadFile, ReadsWholeFileAndNamesPathOnFailure) {
  TempDir dir;
  write_bytes(dir.file("a.txt"), std::string("one\0two", 7));
  auto content = read_file(dir.file("a.txt"), 100);
  ASSERT_TRUE(content) << content.error().message;
  EXPECT_EQ(*content, std::string("one\0two", 7));

  auto missing = read_file(dir.file("missing.txt"), 100);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "reading " + dir.file("missing.txt"));
  EXPECT_EQ(missing.error().cause, "No such file or directory");

  auto directory = read_file(dir.path(), 100);
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().message, "reading " + dir.path());
}

TEST(ReadFile, RefusesFilesOverTheLimitNamingIt) {
  TempDir dir;
  write_bytes(dir.file("exact"), std::string(1024, 'x'));
  EXPECT_TRUE(read_file(dir.file("exact"), 1024));
  auto over = read_file(dir.file("exact"), 1023);
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().kind, ErrorKind::limit);
  EXPECT_EQ(over.error().message,
            "reading " + dir.file("exact") + ": the file is larger than the 1023 bytes limit");

  // A sparse file far larger than memory is refused from its size alone.
  std::string huge = dir.file("huge");
  write_bytes(huge, "");
  std::filesystem::resize_file(huge, 64ull << 30);
  auto refused = read_file(huge, 256ull << 20);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message,
            "reading " + huge + ": the file is larger than the 256 MiB limit");
}

TEST(ReadTextFile, RefusesInvalidUtf8) {
  TempDir dir;
  write_bytes(dir.file("bad.txt"), "caf\xE9\n");
  auto text = read_text_file(dir.file("bad.txt"), 100);
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error().message, "reading " + dir.file("bad.txt"));
  EXPECT_EQ(text.error().cause, "stream did not contain valid UTF-8");
}

TEST(WriteFileAtomic, CreatesAndReplacesLeavingNoTemporaryFile) {
  TempDir dir;
  std::string path = dir.file("out.txt");
  ASSERT_TRUE(write_file_atomic(path, "first"));
  EXPECT_EQ(read_bytes(path), "first");
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(permission_bits(path), 0666u & ~mask);

  ::chmod(path.c_str(), 0600);
  ASSERT_TRUE(write_file_atomic(path, "second, longer"));
  EXPECT_EQ(read_bytes(path), "second, longer");
  EXPECT_EQ(permission_bits(path), 0600u);  // a replaced file keeps its permissions
  EXPECT_EQ(dir.list(), std::vector<std::string>{"out.txt"});
}

TEST(WriteFileAtomic, WritesThroughASymbolicLink) {
  TempDir dir;
  write_bytes(dir.file("real.txt"), "old");
  std::filesystem::create_symlink("real.txt", dir.file("link.txt"));
  ASSERT_TRUE(write_file_atomic(dir.file("link.txt"), "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(read_bytes(dir.file("real.txt")), "new");
}

TEST(WriteFileAtomic, FailureLeavesTheTargetUntouched) {
  TempDir dir;
  std::string path = dir.file("out.txt");
  write_bytes(path, "precious");
  {
    FileSizeLimit limit(1000);  // the disk "fills up" half-way through the new content
    auto written = write_file_atomic(path, std::string(5000, 'x'));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, "writing " + path);
    EXPECT_EQ(written.error().cause, "File too large");
  }
  EXPECT_EQ(read_bytes(path), "precious");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"out.txt"});

  // A directory where nothing can be created (even by root).
  auto refused = write_file_atomic("/proc/quorvel-test.txt", "x");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "writing /proc/quorvel-test.txt");
  EXPECT_FALSE(refused.error().cause.empty());
}

TEST(WriteFileAtomic, ReadOnlyDirectoryChangesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
  TempDir dir;
  write_bytes(dir.file("out.txt"), "precious");
  ::chmod(dir.path().c_str(), 0555);
  auto written = write_file_atomic(dir.file("out.txt"), "new");
  ::chmod(dir.path().c_str(), 0755);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message, "writing " + dir.file("out.txt"));
  EXPECT_EQ(written.error().cause, "Permission denied");
  EXPECT_EQ(read_bytes(dir.file("out.txt")), "precious");
}

// The system stops reading a path at a NUL byte; such a path would name another file, here
// the one that must stay untouched.
TEST(Files, PathWithANulByteNamesNoFile) {
  TempDir dir;
  write_bytes(dir.file("kept.txt"), "precious");
  const std::string path = dir.file("kept.txt") + std::string("\0.fr.txt", 8);

  auto read = read_file(path, 100);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message, "reading " + path);
  EXPECT_EQ(read.error().cause, "the path contains a NUL byte");
  auto written = write_file_atomic(path, "translation");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().message, "writing " + path);
  EXPECT_EQ(written.error().cause, "the path contains a NUL byte");
  EXPECT_EQ(read_bytes(dir.file("kept.txt")), "precious");
  EXPECT_EQ(dir.list(), std::vector<std::string>{"kept.txt"});
}

TEST(PendingFile, DroppedWithoutCommitLeavesNothing) {
  TempDir dir;
  {
    auto pending = PendingFile::create(dir.file("out.bin"));
    ASSERT_TRUE(pending);
    ASSERT_TRUE(pending->write("partial"));
    EXPECT_EQ(dir.list().size(), 1u);  // the temporary file, beside the target
  }
  EXPECT_TRUE(dir.list().empty());
}

// A write killed half way leaves its hidden temporary files; the next write into the folder
// removes those of ours that nobody has touched for a while, and nothing else.
TEST(PendingFile, StaleTemporaryFilesOfOursAreRemoved) {
  namespace fs = std::filesystem;
  TempDir dir;
  const auto old = fs::file_time_type::clock::now() - STALE_TEMPORARY_AGE - std::chrono::minutes(1);
  struct Case {
    std::string name;
    bool old;
    bool removed;
  };
  const std::vector<Case> cases = {
      {".report.fr.docx.tmp-a1b2c3d4", true, true},
      {".report.fr.docx.tmp-a1b2c3d4.Xy12Zq", true, true},    // libzip's, beside ours
      {".report.fr.docx.tmp-a1b2c3d4.0f3a9b2c", true, true},  // libzip's on Windows
      {".notes.txt.tmp-zzzz9999", false, false},              // a write under way
      {".notes.txt.tmp-abc", true, false},
      {".notes.txt.tmp-ABCDEFGH", true, false},
      {"notes.txt.tmp-a1b2c3d4", true, false},  // not hidden: not ours
      {".tmp-a1b2c3d4", true, false},
      {"report.docx", true, false},
  };
  for (const auto& c : cases) {
    write_bytes(dir.file(c.name), "x");
    if (c.old) fs::last_write_time(dir.file(c.name), old);
  }
  fs::create_directory(dir.file(".folder.tmp-a1b2c3d4"));
  fs::last_write_time(dir.file(".folder.tmp-a1b2c3d4"), old);

  ASSERT_TRUE(write_file_atomic(dir.file("other.txt"), "new"));
  for (const auto& c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(dir.file(".folder.tmp-a1b2c3d4")));
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A model file rewritten in place with the same size and its old modification time put back
// must still count as changed, at its start or at its end.
TEST(FileFingerprint, ChangesWithTheContentEvenAtTheSameSizeAndTime) {
  TempDir dir;
  const std::string path = dir.file("model.gguf");
  const std::string content(3 << 20, 'a');
  testing::write_bytes(path, content);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const std::string original = file_fingerprint(path);
  ASSERT_FALSE(original.empty());
  EXPECT_EQ(file_fingerprint(path), original);
  for (std::size_t at : {std::size_t{0}, content.size() - 1}) {
    std::string changed = content;
    changed[at] = 'b';
    testing::write_bytes(path, changed);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_NE(file_fingerprint(path), original) << at;
  }
  EXPECT_EQ(file_fingerprint(dir.file("missing")), "");
}

}  // namespace
}  // namespace quorvel
