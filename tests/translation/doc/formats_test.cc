// The table of formats, and the package-level paths of the new package formats: which parts
// a presentation is read from and in what order, and how a broken package is refused.

#include "translation/doc/formats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "translation/doc/zip_fixtures.h"
#include "translation/jobs.h"

namespace quorvel {
namespace {

using testing::ZipItem;

TEST(Formats, EveryExtensionHasOneFormatAndUnknownOnesNone) {
  for (std::string_view extension :
       {"docx", "pptx", "xlsx", "odt", "ods", "odp", "srt", "vtt", "txt", "md", "markdown"}) {
    EXPECT_NE(format_for_extension(extension), nullptr) << extension;
  }
  for (std::string_view extension : {"doc", "ppt", "xls", "pdf", "PPTX", ""}) {
    EXPECT_EQ(format_for_extension(extension), nullptr) << extension;
  }
  std::vector<std::string_view> seen;
  for (const auto& format : file_formats()) {
    for (auto extension : format.extensions) {
      EXPECT_EQ(std::count(seen.begin(), seen.end(), extension), 0) << extension;
      seen.push_back(extension);
    }
  }
}

std::string slide_xml(const std::string& text) {
  return "<p:sld xmlns:a=\"a\" xmlns:p=\"p\"><a:p><a:r><a:t>" + text + "</a:t></a:r></a:p></p:sld>";
}

std::string rels(const std::vector<std::pair<std::string, std::string>>& links,
                 const std::string& type) {
  std::string xml = "<Relationships>";
  for (const auto& [id, target] : links) {
    xml += "<Relationship Id=\"" + id + "\" Type=\"http://x/" + type + "\" Target=\"" + target +
           "\"/>";
  }
  return xml + "</Relationships>";
}

TEST(Formats, SlidesAreReadInPresentationOrderThenTheirNotes) {
  testing::TempDir dir;
  const std::string path = dir.file("deck.pptx");
  testing::write_zip(
      path, {{"ppt/slides/slide1.xml", slide_xml("Second slide")},
             {"ppt/slides/slide2.xml", slide_xml("First slide")},
             {"ppt/slides/slide3.xml", slide_xml("Not in the presentation")},
             {"ppt/slideLayouts/slideLayout1.xml", slide_xml("Layout text")},
             {"ppt/notesSlides/notesSlide1.xml", slide_xml("Notes of the second")},
             {"ppt/slides/_rels/slide1.xml.rels",
              "<Relationships><Relationship Id=\"rId2\" Type=\"http://x/slideLayout\" "
              "Target=\"../slideLayouts/slideLayout1.xml\"/><Relationship Id=\"rId1\" "
              "Type=\"http://x/notesSlide\" Target=\"../notesSlides/notesSlide1.xml\"/>"
              "</Relationships>"},
             {"ppt/presentation.xml",
              "<p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst><p:sldId id=\"2\" "
              "r:id=\"rId7\"/><p:sldId id=\"1\" r:id=\"rId3\"/></p:sldIdLst></p:presentation>"},
             {"ppt/_rels/presentation.xml.rels",
              rels({{"rId3", "slides/slide1.xml"}, {"rId7", "/ppt/slides/slide2.xml"}}, "slide")}});
  auto document = format_for_extension("pptx")->parse(path);
  ASSERT_TRUE(document) << document.error().message;
  std::vector<std::string> texts;
  for (const auto& segment : document_segments(*document)) texts.push_back(segment.text);
  // The layout is linked from the slide but is template text, never read.
  EXPECT_EQ(texts,
            (std::vector<std::string>{"First slide", "Second slide", "Notes of the second"}));
}

TEST(Formats, BrokenPackagesAreRefusedNamingTheirKind) {
  testing::TempDir dir;
  struct Case {
    const char* name;
    std::vector<ZipItem> items;  // empty: the file is not a zip archive
    std::string message;
  };
  const Case cases[] = {
      {"a.pptx", {}, "reading pptx zip"},
      {"a.ods", {}, "reading ods zip"},
      {"b.xlsx",
       {{"xl/sharedStrings.xml", "<sst><si><t>x</si></sst>"}},
       "parsing xl/sharedStrings.xml"},
      {"c.pptx",
       {{"ppt/presentation.xml", "<!DOCTYPE p [<!ENTITY a \"b\">]><p:presentation/>"}},
       "parsing ppt/presentation.xml"},
      {"d.odt",
       {{"mimetype", "application/vnd.oasis.opendocument.text", true}},
       "no translatable text found in document"},
      {"e.ods",
       {{"content.xml", std::string(1'000'000, ' ')}},
       "reading ods zip: entry content.xml expands more than 100 times (a zip bomb)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    if (c.items.empty()) {
      testing::write_bytes(path, "not a zip archive");
    } else {
      testing::write_zip(path, c.items);
    }
    auto job = prepare_file_job(path, {"fr", std::nullopt}, std::nullopt);
    ASSERT_FALSE(job);
    EXPECT_EQ(job.error().message, c.message);
  }
}

}  // namespace
}  // namespace quorvel
