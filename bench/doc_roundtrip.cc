// Extraction and write-back of large documents through the document layer, with a fake
// translation (each segment tagged) in place of the model.
//
//   doc_roundtrip make DIR        writes DIR/large.docx (2,000 paragraphs, 50 MB of images)
//                                 and DIR/large.srt (5,000 cues)
//   doc_roundtrip run FILE OUT    parses FILE, translates, writes OUT; prints the timings
//
// bench/doc_roundtrip.sh runs both under /usr/bin/time for whole-process figures.

#include <fmt/core.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "translation/doc/document.h"

namespace {

using namespace quorvel;
using Clock = std::chrono::steady_clock;

constexpr int PARAGRAPHS = 2000;
constexpr int IMAGES = 10;
constexpr std::size_t IMAGE_BYTES = 5'000'000;
constexpr int CUES = 5000;

const char* const WORDS[] = {"the",     "report", "shows",   "growth", "in",      "every",
                             "quarter", "while",  "costs",   "stayed", "flat",    "across",
                             "regions", "and",    "margins", "rose",   "steadily"};

std::string sentence(std::mt19937& random, int words) {
  std::string out;
  for (int i = 0; i < words; ++i) {
    if (i) out += ' ';
    out += WORDS[random() % std::size(WORDS)];
  }
  return out;
}

std::string large_document_xml(std::mt19937& random) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
  for (int p = 0; p < PARAGRAPHS; ++p) {
    // Three runs with different formatting, as word processors write them.
    xml += "<w:p><w:pPr><w:pStyle w:val=\"Normal\"/></w:pPr>";
    xml += "<w:r><w:rPr><w:b/></w:rPr><w:t xml:space=\"preserve\">" + sentence(random, 6) +
           " </w:t></w:r>";
    xml += "<w:r><w:t xml:space=\"preserve\">" + sentence(random, 12) + " </w:t></w:r>";
    xml += "<w:r><w:rPr><w:i/></w:rPr><w:t>" + sentence(random, 8) + ".</w:t></w:r></w:p>";
  }
  return xml + "</w:body></w:document>";
}

int make(const std::string& dir) {
  std::mt19937 random(42);
  std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>"},
      {"_rels/.rels", "<Relationships/>"},
      {"word/document.xml", large_document_xml(random)},
      {"word/header1.xml", "<w:hdr><w:p><w:r><w:t>Quarterly report</w:t></w:r></w:p></w:hdr>"},
  };
  for (int i = 0; i < IMAGES; ++i) {
    std::string image(IMAGE_BYTES, '\0');  // random bytes: as incompressible as a photo
    for (auto& c : image) c = static_cast<char>(random());
    entries.emplace_back(fmt::format("word/media/image{}.jpeg", i + 1), std::move(image));
  }
  int error = 0;
  std::string docx = dir + "/large.docx";
  zip_t* archive = zip_open(docx.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) return 1;
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    if (zip_file_add(archive, name.c_str(), source, 0) < 0) return 1;
  }
  if (zip_close(archive) != 0) return 1;

  std::string srt;
  for (int i = 0; i < CUES; ++i) {
    int start = i * 3;
    srt += fmt::format("{}\n{:02}:{:02}:{:02},000 --> {:02}:{:02}:{:02},500\n", i + 1, start / 3600,
                       start / 60 % 60, start % 60, start / 3600, start / 60 % 60, start % 60 + 2);
    srt += sentence(random, 6) + "\n" + sentence(random, 5) + "\n\n";
  }
  if (!write_file_atomic(dir + "/large.srt", srt)) return 1;
  std::printf("wrote %s/large.docx and %s/large.srt\n", dir.c_str(), dir.c_str());
  return 0;
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int run(const std::string& path, const std::string& output) {
  auto start = Clock::now();
  Result<Document> document = path.ends_with(".docx") ? Result<Document>(extract_docx(path))
                                                      : Result<Document>(parse_subtitles(path));
  if (!document) {
    std::fprintf(stderr, "%s\n", document.error().message.c_str());
    return 1;
  }
  double parsed = ms_since(start);

  Translations translations;
  for (const auto& segment : document_segments(*document)) {
    translations.push_back("[fr] " + segment.text);
  }
  auto write_start = Clock::now();
  if (auto written = write_document(*document, translations, output); !written) {
    std::fprintf(stderr, "%s: %s\n", written.error().message.c_str(),
                 written.error().cause.c_str());
    return 1;
  }
  std::printf("%zu segments: parse %.1f ms, write %.1f ms\n", translations.size(), parsed,
              ms_since(write_start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "make") return make(argv[2]);
  if (argc == 4 && std::string(argv[1]) == "run") return run(argv[2], argv[3]);
  std::fprintf(stderr, "usage: doc_roundtrip make DIR | doc_roundtrip run FILE OUT\n");
  return 2;
}
