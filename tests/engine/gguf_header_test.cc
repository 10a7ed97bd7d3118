#include "engine/gguf_header.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::TempDir;

TEST(GgufHeader, ReadsTheArchitectureOfARealModel) {
  auto header = read_gguf_header(QUORVEL_SOURCE_DIR "/.cache/models/tiny.gguf");
  ASSERT_TRUE(header) << header.error().message;
  EXPECT_EQ(header->version, 3u);
  EXPECT_EQ(header->architecture, "gemma3");
  EXPECT_GT(header->tensor_count, 0u);
}

TEST(GgufHeader, RefusesWhatIsNotOne) {
  TempDir dir;
  const std::string real = testing::read_bytes(QUORVEL_SOURCE_DIR "/.cache/models/tiny.gguf");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"zip", "PK\x03\x04 not a model"},
      {"cut", real.substr(0, 30)},  // inside the first key
      // A key claiming a length of 2^62 bytes.
      {"huge-key", std::string("GGUF\x03\0\0\0", 8) + std::string(8, '\0') +
                       std::string("\x01\0\0\0\0\0\0\0", 8) + std::string("\0\0\0\0\0\0\0\x40", 8)},
  };
  for (const auto& [name, bytes] : cases) {
    testing::write_bytes(dir.file(name), bytes);
    auto header = read_gguf_header(dir.file(name));
    ASSERT_FALSE(header) << name;
    EXPECT_EQ(header.error().message, dir.file(name) + " is not a GGUF file") << name;
  }
  EXPECT_EQ(read_gguf_header(dir.file("missing")).error().message,
            "reading " + dir.file("missing"));
}

}  // namespace
}  // namespace quorvel
