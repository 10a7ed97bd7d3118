#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(CanonicalPath, ResolvesLinksAndDotsAndReportsTheSystemError) {
  TempDir dir;
  fs::create_directories(dir.file("real/sub"));
  fs::create_directory_symlink(dir.file("real"), dir.file("link"));
  auto resolved = canonical_path(dir.file("link/sub/../sub"));
  ASSERT_TRUE(resolved) << resolved.error().message;
  EXPECT_EQ(*resolved, fs::canonical(dir.file("real/sub")));

  auto missing = canonical_path(dir.file("missing"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "No such file or directory");

  // Cut at the NUL, the path would name the existing directory.
  auto nul = canonical_path(dir.file("real") + std::string("\0/x", 3));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().message, "Invalid argument");
}

TEST(ExecutablePath, IsTheRunningTestProgram) {
  auto exe = executable_path();
  ASSERT_TRUE(exe);
  EXPECT_TRUE(exe->is_absolute());
  EXPECT_TRUE(fs::equivalent(*exe, "/proc/self/exe"));
}

TEST(PathQueries, FollowLinksAndTreatFailuresAsAbsent) {
  TempDir dir;
  testing::write_bytes(dir.file("file"), "x");
  fs::create_symlink(dir.file("file"), dir.file("link"));
  fs::create_symlink(dir.file("nowhere"), dir.file("dangling"));
  EXPECT_TRUE(path_exists(dir.file("link")));
  EXPECT_TRUE(is_regular_file_at(dir.file("link")));
  EXPECT_FALSE(is_directory_at(dir.file("link")));
  EXPECT_TRUE(is_directory_at(dir.path()));
  EXPECT_FALSE(path_exists(dir.file("dangling")));
  EXPECT_FALSE(path_exists(dir.file("file/below")));  // ENOTDIR
}

class EnvTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"LOCALAPPDATA", "XDG_DATA_HOME", "HOME"}) {
      if (saved_[name].has_value()) {
        ::setenv(name, saved_[name]->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  void SetUp() override {
    for (const char* name : {"LOCALAPPDATA", "XDG_DATA_HOME", "HOME"}) saved_[name] = env_var(name);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(EnvTest, SetEmptyAndUnsetAreThreeDifferentThings) {
  ::unsetenv("LOCALAPPDATA");
  EXPECT_EQ(env_var("LOCALAPPDATA"), std::nullopt);
  ::setenv("LOCALAPPDATA", "", 1);
  EXPECT_EQ(env_var("LOCALAPPDATA"), std::string());
  ::setenv("LOCALAPPDATA", "\xff\xfe raw", 1);
  EXPECT_EQ(env_var("LOCALAPPDATA"), std::string("\xff\xfe raw"));
}

TEST_F(EnvTest, UserDataDirectoryPrefersLocalAppDataThenXdgThenHome) {
  struct Case {
    std::optional<std::string> local, xdg, home;
    std::optional<fs::path> expected;
  };
  const Case cases[] = {
      {"/l", "/x", "/h", fs::path("/l")},
      {"", "/x", "/h", fs::path("")},  // set, even empty
      {std::nullopt, "/x", "/h", fs::path("/x")},
      {std::nullopt, "relative", "/h", fs::path("/h/.local/share")},
      {std::nullopt, "", "/h", fs::path("/h/.local/share")},
      {std::nullopt, std::nullopt, "/h", fs::path("/h/.local/share")},
      {std::nullopt, std::nullopt, "", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    auto apply = [](const char* name, const std::optional<std::string>& value) {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    };
    apply("LOCALAPPDATA", c.local);
    apply("XDG_DATA_HOME", c.xdg);
    apply("HOME", c.home);
    EXPECT_EQ(user_data_dir(), c.expected)
        << c.local.value_or("-") << " " << c.xdg.value_or("-") << " " << c.home.value_or("-");
  }
}

}  // namespace
}  // namespace quorvel
