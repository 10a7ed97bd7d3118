// Writing a translated document where it cannot be written: every kind of document fails with
// its writer's message, leaves whatever was at the output path as it was, and leaves no
// temporary file behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "translation/doc/document.h"
#include "translation/doc/docx.h"
#include "translation/doc/zip_fixtures.h"

namespace quorvel {
namespace {

using testing::read_bytes;
using testing::TempDir;
using testing::write_bytes;

// The user that owns nothing: root ignores permission bits, so the read-only cases run as it.
constexpr uid_t NOBODY = 65534;

struct Kind {
  std::string extension;
  std::string source;  // file name in the test directory
  std::string verb;    // the writer's message for an output it cannot create
};

const Kind KINDS[] = {
    {"md", "in.md", "writing"},
    {"srt", "in.srt", "writing"},
    {"docx", "in.docx", "creating"},
};

Document parse(const TempDir& dir, const Kind& kind) {
  std::string path = dir.file(kind.source);
  if (kind.extension == "md") {
    write_bytes(path, "One\n\nTwo\n");
    return *parse_plain_text(path);
  }
  if (kind.extension == "srt") {
    write_bytes(path,
                "1\n00:00:01,000 --> 00:00:02,000\nOne\n\n2\n00:00:03,000 --> 00:00:04,000\nTwo\n");
    return *parse_subtitles(path);
  }
  testing::write_zip(
      path, {{"word/document.xml",
              testing::document_xml(testing::paragraph("One") + testing::paragraph("Two"))}});
  return *extract_docx(path);
}

// Runs `write` as a user without any rights on the test files when the test runs as root
// (in a child process, so that the test keeps its own rights), and returns its error
// message, or "ok".
std::string as_unprivileged(const std::function<std::string()>& write) {
  if (::geteuid() != 0) return write();
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string message =
        ::setgid(NOBODY) == 0 && ::setuid(NOBODY) == 0 ? write() : "setuid failed";
    ssize_t ignored = ::write(pipe_fds[1], message.data(), message.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string message;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) message.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status)) return "child died";
  return message;
}

TEST(WriteFaults, OutputPathThatIsADirectoryIsLeftAlone) {
  for (const auto& kind : KINDS) {
    SCOPED_TRACE(kind.extension);
    TempDir dir;
    Document document = parse(dir, kind);
    std::string output = dir.file("out." + kind.extension);
    std::filesystem::create_directory(output);
    write_bytes(output + "/inside.txt", "precious");

    auto written = write_document(document, {"Un", "Deux"}, output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, kind.verb + " " + output);
    EXPECT_EQ(written.error().cause, "Is a directory");
    EXPECT_EQ(read_bytes(output + "/inside.txt"), "precious");
    EXPECT_EQ(dir.list(), (std::vector<std::string>{kind.source, "out." + kind.extension}));
  }
}

// A device or a pipe at the output path stays what it is: replacing /dev/null with a regular
// file (which root could do) or blocking on a pipe without reader would both be faults.
TEST(WriteFaults, OutputPathThatIsADeviceOrAPipeIsLeftAlone) {
  for (const auto& kind : KINDS) {
    SCOPED_TRACE(kind.extension);
    TempDir dir;
    Document document = parse(dir, kind);
    std::string fifo = dir.file("pipe." + kind.extension);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& output : {std::string("/dev/null"), fifo}) {
      auto written = write_document(document, {"Un", "Deux"}, output);
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().message, kind.verb + " " + output);
      EXPECT_EQ(written.error().cause, "not a regular file");
    }
    struct stat st;
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(dir.list(), (std::vector<std::string>{kind.source, "pipe." + kind.extension}));
  }
}

TEST(WriteFaults, ReadOnlyDirectoryKeepsTheOldOutput) {
  for (const auto& kind : KINDS) {
    SCOPED_TRACE(kind.extension);
    TempDir dir;
    Document document = parse(dir, kind);
    std::string locked = dir.file("locked");
    std::string output = locked + "/out." + kind.extension;
    std::filesystem::create_directory(locked);
    write_bytes(output, "previous translation");
    // Readable and searchable for everyone, writable by nobody but its owner (root).
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file(kind.source).c_str(), 0644);
    ::chmod(locked.c_str(), 0555);

    std::string message = as_unprivileged([&] {
      auto written = write_document(document, {"Un", "Deux"}, output);
      return written ? std::string("ok") : written.error().message + ": " + written.error().cause;
    });
    ::chmod(locked.c_str(), 0755);
    EXPECT_EQ(message, kind.verb + " " + output + ": Permission denied");
    EXPECT_EQ(read_bytes(output), "previous translation");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(locked)) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"out." + kind.extension});
  }
}

}  // namespace
}  // namespace quorvel
