#include "server/tool_handler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "server/handlers/handlers.h"
#include "translation/jobs.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string TAGS =
    "ar, bn, my, yue, zh, cs, nl, en, tl, fr, de, gu, he, hi, id, it, ja, kk, km, ko, ms, mr, mn, "
    "fa, pl, pt, ru, es, ta, te, th, bo, zh-TW, tr, uk, ur, ug, vi";

class ToolHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tool-handler-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& content = "Some text here.\n") {
    fs::path path = dir_ / name;
    std::ofstream(path) << content;
    return path.string();
  }

  ToolResult call(const std::string& tool, const json& arguments) {
    return handler_.call(tool, arguments);
  }

  fs::path dir_;
  ToolHandler handler_;
};

TEST_F(ToolHandlerTest, TranslateTextChecksInOrder) {
  const std::string long_text(12001, 'a');
  std::string multibyte_12001;
  for (int i = 0; i < 12001; ++i) multibyte_12001 += "\xC3\xA9";
  const std::vector<std::pair<json, std::string>> cases = {
      {json::object(), "missing required argument: text"},
      {json(nullptr), "missing required argument: text"},
      {{{"text", 5}, {"to", "fr"}}, "missing required argument: text"},
      {{{"text", " \n\t\u3000"}, {"to", "xx"}}, "text is empty"},
      {{{"text", long_text}, {"to", "xx"}},
       "text too long for translate_text; write it to a file and use translate_file"},
      {{{"text", multibyte_12001}, {"to", "fr"}},
       "text too long for translate_text; write it to a file and use translate_file"},
      {{{"text", "Hello"}}, "missing required argument: to"},
      {{{"text", "Hello"}, {"to", 5}}, "missing required argument: to"},
      {{{"text", "Hello"}, {"to", "EN"}}, "unknown language tag: EN. Use one of: " + TAGS},
      {{{"text", "Hello"}, {"to", "fr "}}, "unknown language tag: fr . Use one of: " + TAGS},
      {{{"text", "Hello"}, {"to", "zh-tw"}}, "unknown language tag: zh-tw. Use one of: " + TAGS},
  };
  for (const auto& [arguments, message] : cases) {
    ToolResult result = call("translate_text", arguments);
    EXPECT_TRUE(result.is_error) << arguments.dump().substr(0, 60);
    EXPECT_EQ(result.text, message) << arguments.dump().substr(0, 60);
  }
  EXPECT_EQ(handler_.backend.engine_slot.engine, nullptr);

  // Exactly 12000 characters pass the length check and go on to the engine.
  std::string multibyte_12000 = multibyte_12001.substr(2);
  ToolResult at_limit = call("translate_text", {{"text", multibyte_12000}, {"to", "xx"}});
  EXPECT_EQ(at_limit.text, "unknown language tag: xx. Use one of: " + TAGS);
}

TEST_F(ToolHandlerTest, TranslateFileChecksInOrder) {
  const std::string pdf = file("report.PDF");
  const std::string readme = file("README");
  const std::string empty = file("empty.txt", "\n  \n");
  const std::string broken = file("broken.docx", "not a zip archive");
  const std::string missing = (dir_ / "missing.docx").string();
  const std::vector<std::pair<json, std::string>> cases = {
      {{{"to", "fr"}}, "missing required argument: path"},
      {{{"path", 1}, {"to", "fr"}}, "missing required argument: path"},
      {{{"path", missing}, {"to", "xx"}}, "file not found: " + missing},
      {{{"path", dir_.string()}, {"to", "fr"}}, "file not found: " + dir_.string()},
      {{{"path", "/dev/null"}, {"to", "fr"}}, "file not found: /dev/null"},
      {{{"path", pdf}}, "missing required argument: to"},
      {{{"path", pdf}, {"to", "xx"}}, "unknown language tag: xx. Use one of: " + TAGS},
      {{{"path", pdf}, {"to", "fr"}}, "unsupported file type: .pdf"},
      {{{"path", readme}, {"to", "fr"}}, "unsupported file type: ."},
      // The document is read before any engine is looked for.
      {{{"path", empty}, {"to", "fr"}}, "no translatable text found"},
      {{{"path", broken}, {"to", "fr"}}, "reading docx zip"},
  };
  for (const auto& [arguments, message] : cases) {
    ToolResult result = call("translate_file", arguments);
    EXPECT_TRUE(result.is_error) << arguments.dump();
    EXPECT_EQ(result.text, message) << arguments.dump();
  }
  EXPECT_EQ(handler_.backend.engine_slot.engine, nullptr);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

TEST(DefaultOutputPath, PutsTheTagBeforeTheLastExtension) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"/home/a/report.docx", "fr", "/home/a/report.fr.docx"},
      {"/home/a/Notes.MD", "zh-TW", "/home/a/Notes.zh-TW.MD"},
      {"/tmp/talk.part2.srt", "de", "/tmp/talk.part2.de.srt"},
      {"/tmp/a.fr.txt", "fr", "/tmp/a.fr.fr.txt"},
      {"relative/report.DOCX", "fr", "relative/report.fr.DOCX"},
      {"/tmp/dir.v2/notes.txt", "es", "/tmp/dir.v2/notes.es.txt"},
  };
  for (const auto& [path, tag, expected] : cases) {
    EXPECT_EQ(default_output_path(path, tag), expected);
  }
}

TEST(FileExtension, IsTheLowerCasedPartAfterTheLastDotOfTheName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a/report.DOCX", "docx"}, {"/a/.profile", ""},       {"/a/..", ""},
      {"/a.b/README", ""},        {"notes.Markdown", "markdown"}, {"/a/x.tar.GZ", "gz"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(file_extension(path), expected) << path;
}

}  // namespace
}  // namespace quorvel
