#include "translation/doc/pptx.h"

#include <fmt/core.h>

#include "translation/doc/package/paragraphs.h"
#include "translation/doc/package/relationships.h"

namespace quorvel {
namespace {

constexpr std::string_view PARAGRAPHS[] = {"a:p"};
constexpr BreakElement BREAKS[] = {{"a:br", '\n'}};
constexpr std::string_view MARKERS[] = {"a:pPr", "a:endParaRPr"};

// Runs hold their properties and one <a:t>; fields (<a:fld>: slide numbers, dates) are kept
// whole. A line feed needs a break between runs: <a:t> shows one as a space.
constexpr ParagraphVocabulary DRAWING{
    .paragraphs = PARAGRAPHS,
    .run = "a:r",
    .text = "a:t",
    .breaks = BREAKS,
    .markers = MARKERS,
    .line_break_between_runs = "<a:br/>",
};

constexpr std::string_view PRESENTATION = "ppt/presentation.xml";

Result<std::vector<ChosenPart>> choose_parts(const EntryReader& package) {
  auto presentation = package.named(PRESENTATION);
  if (!presentation) return std::unexpected(presentation.error());
  if (!*presentation) return std::vector<ChosenPart>{};
  auto ids = attribute_values(**presentation, "p:sldId", "r:id");
  if (!ids) {
    return fail(ErrorKind::format, fmt::format("parsing {}", PRESENTATION), ids.error().message);
  }
  auto relationships = relationships_of(package, PRESENTATION);
  if (!relationships) return std::unexpected(relationships.error());

  std::vector<std::size_t> slides;
  for (const auto& id : *ids) {
    for (const auto& relationship : *relationships) {
      if (relationship.id != id || relationship.external) continue;
      std::size_t entry = package.find(target_part(PRESENTATION, relationship.target));
      if (entry < package.entries.size()) slides.push_back(entry);
      break;
    }
  }
  std::vector<std::size_t> notes;
  for (auto slide : slides) {
    auto pages = related_entries(package, package.entries[slide].name, "/notesSlide");
    if (!pages) return std::unexpected(pages.error());
    notes.insert(notes.end(), pages->begin(), pages->end());
  }
  std::vector<ChosenPart> chosen;
  for (const auto& group : {slides, notes}) {
    for (auto entry : group) {
      bool seen = false;
      for (const auto& part : chosen) seen = seen || part.entry == entry;
      if (!seen) chosen.push_back({entry, &PPTX_SLIDE_PART});
    }
  }
  return chosen;
}

}  // namespace

const PartReader PPTX_SLIDE_PART = ParagraphPart<DRAWING>::reader;
const PackageFormat PPTX_FORMAT{"pptx", PPTX_LIMITS, choose_parts, {}};

}  // namespace quorvel
