// Everything a document translation does besides running the model: parsing, source
// detection, deduplication, prompt building, answer checks and write-back, with an instant
// answer (each text comes back tagged) in place of the model.
//
//   doc_roundtrip make DIR
//       writes DIR/large.docx (2,000 paragraphs, 50 MB of images), DIR/large.srt (5,000 cues),
//       DIR/large.md (1 MB of Markdown), DIR/large.pptx (200 slides with notes) and
//       DIR/large.xlsx (100,000 cells: labels from 2,000 shared strings, numbers, formulas)
//   doc_roundtrip run FILE OUT [TOKENIZER_MODEL]
//       parses FILE, translates it through translate_segments, writes OUT, and prints the
//       timings as one JSON object. With a model, also counts the prompt tokens the engine
//       would be given and would decode with prefix reuse, and the tokens of the answers, so
//       that the model's share of the same translation can be estimated.
//
// bench/doc_roundtrip.sh and bench/run.py run it under /usr/bin/time for whole-process figures.

#include <fmt/core.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "engine/llama_api.h"
#include "engine/model.h"
#include "platform/files.h"
#include "translation/doc/formats.h"
#include "translation/jobs.h"
#include "translation/pipeline.h"

namespace {

using namespace quorvel;
using Clock = std::chrono::steady_clock;

constexpr int PARAGRAPHS = 2000;
constexpr int IMAGES = 10;
constexpr std::size_t IMAGE_BYTES = 5'000'000;
constexpr int CUES = 5000;
constexpr std::size_t MARKDOWN_BYTES = 1'000'000;
constexpr int SLIDES = 200;
constexpr int CELLS = 100'000;

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

constexpr std::string_view CONTENT_TYPES =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/>"
    "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "<Override PartName=\"/word/header1.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.wordprocessingml.header+xml\"/></Types>";

constexpr std::string_view PACKAGE_RELS =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>";

constexpr std::string_view RELATIONSHIPS_NS =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string document_rels() {
  std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (int i = 1; i <= IMAGES; ++i) {
    rels += fmt::format(
        "<Relationship Id=\"rIdImage{0}\" Type=\"{1}/image\" "
        "Target=\"media/image{0}.jpeg\"/>",
        i, RELATIONSHIPS_NS);
  }
  rels += fmt::format(
      "<Relationship Id=\"rIdHeader1\" Type=\"{}/header\" "
      "Target=\"header1.xml\"/></Relationships>",
      RELATIONSHIPS_NS);
  return rels;
}

// A paragraph holding one inline picture, as word processors write it.
std::string picture_paragraph(int image) {
  return fmt::format(
      "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"5486400\" cy=\"3657600\"/>"
      "<wp:docPr id=\"{0}\" name=\"Picture {0}\"/><a:graphic><a:graphicData "
      "uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
      "<pic:nvPicPr><pic:cNvPr id=\"{0}\" name=\"image{0}.jpeg\"/><pic:cNvPicPr/>"
      "</pic:nvPicPr><pic:blipFill><a:blip r:embed=\"rIdImage{0}\"/><a:stretch><a:fillRect/>"
      "</a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext "
      "cx=\"5486400\" cy=\"3657600\"/></a:xfrm><a:prstGeom prst=\"rect\"/></pic:spPr>"
      "</pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>",
      image);
}

std::string large_document_xml(std::mt19937& random) {
  std::string xml = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<w:document "
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
      "xmlns:r=\"{}\" "
      "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
      "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body>",
      RELATIONSHIPS_NS);
  for (int p = 0; p < PARAGRAPHS; ++p) {
    if (p % (PARAGRAPHS / IMAGES) == 0) xml += picture_paragraph(p / (PARAGRAPHS / IMAGES) + 1);
    // Three runs with different formatting, as word processors write them.
    xml += "<w:p><w:pPr><w:pStyle w:val=\"Normal\"/></w:pPr>";
    xml += "<w:r><w:rPr><w:b/></w:rPr><w:t xml:space=\"preserve\">" + sentence(random, 6) +
           " </w:t></w:r>";
    xml += "<w:r><w:t xml:space=\"preserve\">" + sentence(random, 12) + " </w:t></w:r>";
    xml += "<w:r><w:rPr><w:i/></w:rPr><w:t>" + sentence(random, 8) + ".</w:t></w:r></w:p>";
  }
  return xml +
         "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rIdHeader1\"/></w:sectPr>"
         "</w:body></w:document>";
}

bool write_zip(const std::string& path,
               const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) return false;
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    if (zip_file_add(archive, name.c_str(), source, 0) < 0) return false;
  }
  return zip_close(archive) == 0;
}

constexpr std::string_view DRAWING_NS =
    "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string drawing_run(std::string_view properties, const std::string& text) {
  return fmt::format("<a:r><a:rPr lang=\"en-US\" sz=\"2000\"{}/><a:t>{}</a:t></a:r>", properties,
                     text);
}

// A title and four bullets, one of them with a bold span, and a notes page.
std::string slide_xml(std::mt19937& random) {
  std::string shapes = "<p:sp><p:txBody><a:bodyPr/><a:p>" + drawing_run("", sentence(random, 5)) +
                       "</a:p></p:txBody></p:sp><p:sp><p:txBody><a:bodyPr/>";
  for (int b = 0; b < 4; ++b) {
    shapes += "<a:p><a:pPr lvl=\"0\"/>" + drawing_run("", sentence(random, 6) + " ");
    if (b == 1)
      shapes +=
          drawing_run(" b=\"1\"", sentence(random, 2)) + drawing_run("", " " + sentence(random, 3));
    shapes += "<a:endParaRPr lang=\"en-US\"/></a:p>";
  }
  return fmt::format("<p:sld {}><p:cSld><p:spTree>{}</p:txBody></p:sp></p:spTree></p:cSld></p:sld>",
                     DRAWING_NS, shapes);
}

constexpr std::string_view RELATIONSHIPS_XML =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";

bool make_pptx(const std::string& path, std::mt19937& random) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::string ids;
  std::string rels(RELATIONSHIPS_XML);
  for (int i = 1; i <= SLIDES; ++i) {
    ids += fmt::format("<p:sldId id=\"{}\" r:id=\"rId{}\"/>", 255 + i, i);
    rels += fmt::format(
        "<Relationship Id=\"rId{0}\" Type=\"{1}/slide\" Target=\"slides/slide{0}.xml\"/>", i,
        RELATIONSHIPS_NS);
    entries.emplace_back(fmt::format("ppt/slides/slide{}.xml", i), slide_xml(random));
    entries.emplace_back(fmt::format("ppt/slides/_rels/slide{}.xml.rels", i),
                         fmt::format("{}<Relationship Id=\"rId1\" Type=\"{}/notesSlide\" "
                                     "Target=\"../notesSlides/notesSlide{}.xml\"/></Relationships>",
                                     RELATIONSHIPS_XML, RELATIONSHIPS_NS, i));
    entries.emplace_back(fmt::format("ppt/notesSlides/notesSlide{}.xml", i),
                         fmt::format("<p:notes {}><p:cSld><p:spTree><p:sp><p:txBody><a:p>{}</a:p>"
                                     "</p:txBody></p:sp></p:spTree></p:cSld></p:notes>",
                                     DRAWING_NS, drawing_run("", sentence(random, 12) + ".")));
  }
  entries.emplace_back(
      "ppt/presentation.xml",
      fmt::format("<p:presentation {}><p:sldIdLst>{}</p:sldIdLst></p:presentation>", DRAWING_NS,
                  ids));
  entries.emplace_back("ppt/_rels/presentation.xml.rels", rels + "</Relationships>");
  return write_zip(path, entries);
}

// Rows of a label, two numbers, a formula and a note; labels repeat, as they do in real
// sheets, so the shared strings are fewer than the cells that show them.
bool make_xlsx(const std::string& path, std::mt19937& random) {
  constexpr int COLUMNS = 5;
  constexpr int ROWS = CELLS / COLUMNS;
  constexpr int LABELS = 2000;
  std::string strings;
  for (int i = 0; i < LABELS; ++i) strings += "<si><t>" + sentence(random, 4) + "</t></si>";
  std::string sheet =
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  for (int r = 1; r <= ROWS; ++r) {
    sheet += fmt::format(
        "<row r=\"{0}\"><c r=\"A{0}\" t=\"s\"><v>{1}</v></c><c r=\"B{0}\"><v>{2}</v></c>"
        "<c r=\"C{0}\"><v>{3}.5</v></c><c r=\"D{0}\"><f>B{0}*C{0}</f><v>0</v></c>"
        "<c r=\"E{0}\" t=\"s\"><v>{4}</v></c></row>",
        r, random() % LABELS, random() % 100000, random() % 1000, random() % LABELS);
  }
  sheet += "</sheetData></worksheet>";
  return write_zip(
      path, {{"xl/workbook.xml",
              "<workbook><sheets><sheet name=\"Data\" sheetId=\"1\"/></sheets></workbook>"},
             {"xl/sharedStrings.xml", fmt::format("<sst count=\"{}\" uniqueCount=\"{}\">{}</sst>",
                                                  2 * ROWS, LABELS, strings)},
             {"xl/worksheets/sheet1.xml", sheet}});
}

bool make_docx(const std::string& path, std::mt19937& random) {
  std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml", std::string(CONTENT_TYPES)},
      {"_rels/.rels", std::string(PACKAGE_RELS)},
      {"word/_rels/document.xml.rels", document_rels()},
      {"word/document.xml", large_document_xml(random)},
      {"word/header1.xml",
       "<w:hdr xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
       "<w:p><w:r><w:t>Quarterly report</w:t></w:r></w:p></w:hdr>"},
  };
  for (int i = 0; i < IMAGES; ++i) {
    std::string image(IMAGE_BYTES, '\0');  // random bytes: as incompressible as a photo
    for (auto& c : image) c = static_cast<char>(random());
    entries.emplace_back(fmt::format("word/media/image{}.jpeg", i + 1), std::move(image));
  }
  return write_zip(path, entries);
}

std::string large_srt(std::mt19937& random) {
  std::string srt;
  for (int i = 0; i < CUES; ++i) {
    int start = i * 3;
    srt += fmt::format("{}\n{:02}:{:02}:{:02},000 --> {:02}:{:02}:{:02},500\n", i + 1, start / 3600,
                       start / 60 % 60, start % 60, start / 3600, start / 60 % 60, start % 60 + 2);
    srt += sentence(random, 6) + "\n" + sentence(random, 5) + "\n\n";
  }
  return srt;
}

// Sections of prose with lists, a code block and a table; some lines repeat, as they do in
// real documentation.
std::string large_markdown(std::mt19937& random) {
  std::string md;
  for (int section = 1; md.size() < MARKDOWN_BYTES; ++section) {
    md += fmt::format("## Section {}: {}\n\n", section, sentence(random, 4));
    for (int p = 0; p < 4; ++p) {
      std::string paragraph;
      for (int s = 0, n = 2 + static_cast<int>(random() % 4); s < n; ++s) {
        paragraph += sentence(random, 8 + static_cast<int>(random() % 10)) + ". ";
      }
      md += paragraph.substr(0, paragraph.size() - 1) + "\n\n";
    }
    for (int i = 0; i < 3; ++i) md += "- " + sentence(random, 5) + "\n";
    md += "\n```sh\nmake install PREFIX=/usr/local\n```\n\n";
    md += "| Quarter | Growth |\n|---|---|\n| Q1 | 4% |\n\n";
    md += "See https://example.com/docs for details.\n\n---\n\n";
  }
  return md;
}

int make(const std::string& dir) {
  std::mt19937 random(42);
  if (!make_docx(dir + "/large.docx", random)) return 1;
  if (!write_file_atomic(dir + "/large.srt", large_srt(random))) return 1;
  if (!write_file_atomic(dir + "/large.md", large_markdown(random))) return 1;
  if (!make_pptx(dir + "/large.pptx", random)) return 1;
  if (!make_xlsx(dir + "/large.xlsx", random)) return 1;
  std::printf("wrote large.docx, large.srt, large.md, large.pptx and large.xlsx in %s\n",
              dir.c_str());
  return 0;
}

// Answers every prompt at once with its text, tagged, and keeps the prompts and answers so
// that they can be counted in tokens afterwards.
class InstantGenerator final : public Generator {
 public:
  Result<std::string> generate(std::string_view prompt, uint32_t, const SamplingParams&,
                               const GenerationControl& = NO_CONTROL) override {
    return answer(prompt);
  }

  Result<std::vector<std::string>> generate_many(const std::vector<PromptRequest>& prompts,
                                                 const SamplingParams&, const OnResult& on_result,
                                                 const GenerationControl& = NO_CONTROL) override {
    std::vector<std::string> results(prompts.size());
    for (std::size_t i = 0; i < prompts.size(); ++i) {
      results[i] = answer(prompts[i].prompt);
      if (on_result && !on_result(i, results[i])) break;
    }
    return results;
  }

  std::vector<std::string> prompts;
  std::vector<std::string> answers;

 private:
  std::string answer(std::string_view prompt) {
    constexpr std::string_view before = ":\n\n\n";
    constexpr std::string_view after = "<end_of_turn>\n<start_of_turn>model\n";
    std::size_t start = prompt.find(before) + before.size();
    std::string text =
        "[fr] " + std::string(prompt.substr(start, prompt.size() - after.size() - start));
    prompts.emplace_back(prompt);
    answers.push_back(text);
    return text;
  }
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Result<Document> parse(const std::string& path) {
  const FileFormat* format = format_for_extension(file_extension(path));
  if (format == nullptr) return fail(ErrorKind::invalid_argument, "unsupported file type");
  return format->parse(path);
}

std::vector<llama_token> tokenize(const Engine& engine, const std::string& text, bool special) {
  std::vector<llama_token> tokens(text.size() + 16);
  int32_t n = engine.api().llama_tokenize(engine.vocab(), text.data(),
                                          static_cast<int32_t>(text.size()), tokens.data(),
                                          static_cast<int32_t>(tokens.size()), special, special);
  tokens.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return tokens;
}

// Token counts of what the model would have been given: the prompts, the part of them the
// engine decodes when each prompt keeps the prefix it shares with the one before (its last
// token is always decoded), and the answers with their end-of-turn token.
nlohmann::json count_tokens(const std::string& model_path, const InstantGenerator& generator) {
  const char* dir = std::getenv("TRANSLATE_LLM_DIR");
  std::string engine_dir = dir != nullptr ? dir : QUORVEL_SOURCE_DIR "/.cache/engine/lib";
  auto api = bind_runtime(engine_dir);
  if (!api) return {{"error", api.error().message}};
  llama_model_params params = (*api)->llama_model_default_params();
  params.vocab_only = true;
  llama_model* model = (*api)->llama_model_load_from_file(model_path.c_str(), params);
  if (model == nullptr) return {{"error", "failed to load " + model_path}};
  Engine engine(*api, model);

  std::size_t submitted = 0, decoded = 0, answered = 0;
  std::vector<llama_token> previous;
  for (const auto& prompt : generator.prompts) {
    auto tokens = tokenize(engine, prompt, true);
    auto common = std::mismatch(previous.begin(), previous.end(), tokens.begin(), tokens.end());
    std::size_t kept = static_cast<std::size_t>(common.second - tokens.begin());
    if (kept == tokens.size() && kept > 0) --kept;
    submitted += tokens.size();
    decoded += tokens.size() - kept;
    previous = std::move(tokens);
  }
  for (const auto& answer : generator.answers) {
    answered += tokenize(engine, answer.substr(5), false).size() + 1;
  }
  return {{"prompt_tokens_submitted", submitted},
          {"prompt_tokens_decoded", decoded},
          {"answer_tokens", answered}};
}

int run(const std::string& path, const std::string& output, const std::string& tokenizer) {
  auto start = Clock::now();
  Result<Document> document = parse(path);
  if (!document) {
    std::fprintf(stderr, "%s\n", document.error().message.c_str());
    return 1;
  }
  double parse_ms = ms_since(start);

  InstantGenerator generator;
  start = Clock::now();
  Translations translations =
      translate_segments(generator, TranslationRequest{"fr", {}}, document_segments(*document));
  double translate_ms = ms_since(start);

  start = Clock::now();
  if (auto written = write_document(*document, translations, output); !written) {
    std::fprintf(stderr, "%s: %s\n", written.error().message.c_str(),
                 written.error().cause.c_str());
    return 1;
  }
  double write_ms = ms_since(start);

  nlohmann::json out = {{"segments", translations.size()},
                        {"prompts", generator.prompts.size()},
                        {"parse_ms", parse_ms},
                        {"translate_ms", translate_ms},
                        {"write_ms", write_ms}};
  if (!tokenizer.empty()) out["tokens"] = count_tokens(tokenizer, generator);
  std::printf("%s\n", out.dump().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "make") return make(argv[2]);
  if ((argc == 4 || argc == 5) && std::string(argv[1]) == "run") {
    return run(argv[2], argv[3], argc == 5 ? argv[4] : "");
  }
  std::fprintf(stderr,
               "usage: doc_roundtrip make DIR | doc_roundtrip run FILE OUT [TOKENIZER_MODEL]\n");
  return 2;
}
