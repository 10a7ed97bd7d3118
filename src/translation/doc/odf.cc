#include "translation/doc/odf.h"

#include "translation/doc/package/paragraphs.h"
#include "translation/doc/package/xml.h"

namespace quorvel {
namespace {

constexpr std::string_view PARAGRAPHS[] = {"text:p", "text:h"};
constexpr std::string_view SPANS[] = {"text:span", "text:a"};
constexpr BreakElement BREAKS[] = {{"text:line-break", '\n'}, {"text:tab", '\t'}, {"text:s", ' '}};
constexpr std::string_view MARKERS[] = {"text:bookmark",
                                        "text:bookmark-start",
                                        "text:bookmark-end",
                                        "text:reference-mark",
                                        "text:reference-mark-start",
                                        "text:reference-mark-end",
                                        "text:soft-page-break",
                                        "text:change",
                                        "text:change-start",
                                        "text:change-end",
                                        "office:annotation-end",
                                        "text:toc-mark",
                                        "text:alphabetical-index-mark"};

// A cell shows its value as a paragraph; only cells holding text are translated.
bool holds_value(std::string_view name, std::string_view tag) {
  if (name != "table:table-cell" && name != "table:covered-table-cell") return false;
  if (!raw_attribute(tag, "table:formula").empty()) return true;
  std::string_view type = raw_attribute(tag, "office:value-type");
  return !type.empty() && type != "string";
}

constexpr ParagraphVocabulary ODF_TEXT{
    .paragraphs = PARAGRAPHS,
    .spans = SPANS,
    .breaks = BREAKS,
    .markers = MARKERS,
    .line_break_in_text = "<text:line-break/>",
    .tab_in_text = "<text:tab/>",
    .space_element = "text:s",
    .space_count_attribute = "text:c",
    .skip = holds_value,
};

Result<std::vector<ChosenPart>> choose_parts(const EntryReader& package) {
  std::vector<ChosenPart> chosen;
  for (std::string_view name : {"content.xml", "styles.xml"}) {
    std::size_t entry = package.find(name);
    if (entry < package.entries.size()) chosen.push_back({entry, &ODF_PART});
  }
  return chosen;
}

}  // namespace

const PartReader ODF_PART = ParagraphPart<ODF_TEXT>::reader;
const PackageFormat ODT_FORMAT{"odt", ODF_LIMITS, choose_parts, "mimetype"};
const PackageFormat ODS_FORMAT{"ods", ODF_LIMITS, choose_parts, "mimetype"};
const PackageFormat ODP_FORMAT{"odp", ODF_LIMITS, choose_parts, "mimetype"};

}  // namespace quorvel
