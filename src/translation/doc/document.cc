#include "translation/doc/document.h"

#include <fmt/core.h>

namespace quorvel {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

}  // namespace

const std::vector<Segment>& document_segments(const Document& document) {
  return std::visit([](const auto& d) -> const std::vector<Segment>& { return d.segments; },
                    document);
}

Result<void> write_document(const Document& document, const Translations& translations,
                            const std::string& output_path) {
  std::size_t segments = document_segments(document).size();
  if (translations.size() != segments) {
    return fail(ErrorKind::invalid_argument,
                fmt::format("{} translations for {} segments", translations.size(), segments));
  }
  return std::visit(
      Overloaded{
          [&](const PackageDocument& d) { return write_package(d, translations, output_path); },
          [&](const SubtitleDocument& d) { return write_subtitles(d, translations, output_path); },
          [&](const PlainDocument& d) { return write_plain_text(d, translations, output_path); },
      },
      document);
}

}  // namespace quorvel
