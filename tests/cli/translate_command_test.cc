#include "cli/translate_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/progress_bar.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::TempDir;

std::vector<std::pair<std::string, std::string>> pairs(const TranslationPlan& plan,
                                                       const std::string& root) {
  std::vector<std::pair<std::string, std::string>> out;
  auto relative = [&](const std::string& path) {
    return std::filesystem::path(path).lexically_relative(root).generic_string();
  };
  for (const auto& file : plan.files) out.emplace_back(relative(file.input), relative(file.output));
  return out;
}

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.file("docs/sub"));
    for (const char* name :
         {"docs/a.txt", "docs/b.DOCX", "docs/a.fr.txt", "docs/notes.pdf", "docs/sub/c.srt"}) {
      testing::write_bytes(dir_.file(name), "x");
    }
  }
  TempDir dir_;
};

TEST_F(PlanTest, FoldersGiveTheirSupportedFilesButNotEarlierOutputs) {
  TranslateOptions options{{dir_.file("docs")}, "fr"};
  EXPECT_EQ(pairs(plan_translation(options), dir_.path()),
            (std::vector<std::pair<std::string, std::string>>{{"docs/a.txt", "docs/a.fr.txt"},
                                                              {"docs/b.DOCX", "docs/b.fr.DOCX"}}));
  options.recursive = true;
  options.output = dir_.file("out");
  EXPECT_EQ(
      pairs(plan_translation(options), dir_.path()),
      (std::vector<std::pair<std::string, std::string>>{{"docs/a.txt", "out/a.fr.txt"},
                                                        {"docs/b.DOCX", "out/b.fr.DOCX"},
                                                        {"docs/sub/c.srt", "out/sub/c.fr.srt"}}));
  // Another target takes the French outputs as inputs like any other file.
  options = {{dir_.file("docs")}, "de"};
  EXPECT_EQ(plan_translation(options).files.size(), 3u);
}

TEST_F(PlanTest, NamedFilesAreTakenAsTheyAreAndMissingOnesReported) {
  TranslateOptions options{{dir_.file("docs/a.fr.txt")}, "fr", dir_.file("x.txt")};
  EXPECT_EQ(pairs(plan_translation(options), dir_.path()),
            (std::vector<std::pair<std::string, std::string>>{{"docs/a.fr.txt", "x.txt"}}));
  options = {{dir_.file("docs/a.txt"), dir_.file("missing.txt")}, "fr"};
  auto plan = plan_translation(options);
  EXPECT_EQ(plan.files.size(), 1u);
  EXPECT_EQ(plan.errors, std::vector<std::string>{"file not found: " + dir_.file("missing.txt")});
}

TEST(ProgressBarText, ShowsRateAndTimeLeftOnceKnown) {
  for (auto [seconds, text] : std::vector<std::pair<long long, std::string>>{
           {0, "0s"}, {59, "59s"}, {60, "1m00s"}, {192, "3m12s"}, {3720, "1h02m"}}) {
    EXPECT_EQ(format_duration(std::chrono::seconds(seconds)), text);
  }
  std::FILE* sink = std::tmpfile();
  ProgressBar bar(sink, false, "a.txt", {});
  const auto start = ProgressBar::Clock::now();
  EXPECT_EQ(bar.status(start), "0/0 paragraphs");
  bar.update(10, 40);
  bar.tokens(300);
  // 10 of 40 after 30 s: 10 tokens/s, 90 s left.
  EXPECT_EQ(bar.status(start + std::chrono::seconds(30)),
            "10/40 paragraphs, 10.0 tokens/s, 1m30s left");
  std::fclose(sink);
}

}  // namespace
}  // namespace quorvel
