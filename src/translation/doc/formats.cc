#include "translation/doc/formats.h"

#include "translation/doc/docx.h"
#include "translation/doc/odf.h"
#include "translation/doc/plain_text.h"
#include "translation/doc/pptx.h"
#include "translation/doc/subtitles.h"
#include "translation/doc/xlsx.h"

namespace quorvel {
namespace {

template <auto parser>
Result<Document> parse_as_document(const std::string& path) {
  auto parsed = parser(path);
  if (!parsed) return std::unexpected(parsed.error());
  return Document(std::move(*parsed));
}

template <const PackageFormat& format>
Result<Document> parse_package(const std::string& path) {
  auto parsed = extract_package(path, format);
  if (!parsed) return std::unexpected(parsed.error());
  return Document(std::move(*parsed));
}

constexpr std::string_view DOCX[] = {"docx"};
constexpr std::string_view PPTX[] = {"pptx"};
constexpr std::string_view XLSX[] = {"xlsx"};
constexpr std::string_view ODT[] = {"odt"};
constexpr std::string_view ODS[] = {"ods"};
constexpr std::string_view ODP[] = {"odp"};
constexpr std::string_view SUBTITLES[] = {"srt", "vtt"};
constexpr std::string_view PLAIN[] = {"txt"};
constexpr std::string_view MARKDOWN[] = {"md", "markdown"};

const FileFormat FORMATS[] = {
    {"DOCX", DOCX, parse_package<DOCX_FORMAT>},
    {"PPTX", PPTX, parse_package<PPTX_FORMAT>},
    {"XLSX", XLSX, parse_package<XLSX_FORMAT>},
    {"ODT", ODT, parse_package<ODT_FORMAT>},
    {"ODS", ODS, parse_package<ODS_FORMAT>},
    {"ODP", ODP, parse_package<ODP_FORMAT>},
    {"SRT and VTT", SUBTITLES, parse_as_document<parse_subtitles>},
    {"TXT", PLAIN, parse_as_document<parse_plain_text>},
    {"Markdown", MARKDOWN, parse_as_document<parse_markdown>},
};

}  // namespace

std::span<const FileFormat> file_formats() {
  return FORMATS;
}

const FileFormat* format_for_extension(std::string_view extension) {
  for (const auto& format : FORMATS) {
    for (auto known : format.extensions) {
      if (known == extension) return &format;
    }
  }
  return nullptr;
}

}  // namespace quorvel
