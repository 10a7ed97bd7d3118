#pragma once
// Paragraphs of the package formats other than Word (slides, spreadsheet strings and
// comments, OpenDocument text): one reader that a vocabulary adapts to each XML dialect.
//
// A paragraph's text comes from pieces, each wrapped in the markup that formats it: a run
// with its properties around a text element (<a:r><a:rPr b="1"/><a:t>...</a:t></a:r>), or the
// spans and links around character data (<text:span text:style-name="T1">...</text:span>).
// When the pieces of a paragraph differ in their wrapping, or an element that is no text (a
// field, a note, a frame) sits between them, the text carries inline tags
// (translation/inline_tags.h): one pair per differently wrapped stretch, one placeholder per
// such element. Write-back builds the paragraph's content anew from the translation, each
// stretch in its wrapping, the elements moved whole; paragraphs inside those elements (a
// note's text) are paragraphs of their own and are rewritten in place first.
//
// Each paragraph element of a part is one slot, in the order the paragraphs start.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/doc/package/package.h"

namespace quorvel {

struct BreakElement {
  std::string_view name;
  char stands_for = '\n';  // a line feed, a tab or a space
};

struct ParagraphVocabulary {
  std::span<const std::string_view> paragraphs;  // elements that are one paragraph each
  /// A run holds properties and then one text element; empty when text is the character
  /// data of the paragraph and its spans (mixed content).
  std::string_view run;
  /// The text element, inside a run or (a plain shared string) directly in the paragraph.
  std::string_view text;
  /// Mixed content: elements whose start and end tags wrap text with formatting or a link.
  std::span<const std::string_view> spans;
  std::span<const BreakElement> breaks;
  /// Elements that hold nothing to read and stay where they are (paragraph properties,
  /// bookmarks); every other element in a paragraph is kept whole as a placeholder.
  std::span<const std::string_view> markers;
  /// Where a line feed of a translation goes when it cannot be a character of the text:
  /// between runs (<a:br/>), or inside the text (<text:line-break/>). Empty: as a character.
  std::string_view line_break_between_runs;
  std::string_view line_break_in_text;
  std::string_view tab_in_text;
  /// The element for spaces that would otherwise collapse (<text:s text:c="n"/>); when set,
  /// character data collapses as OpenDocument specifies: any run of white space reads as one
  /// space, none at the start of a paragraph.
  std::string_view space_element;
  std::string_view space_count_attribute;
  /// The text element needs xml:space="preserve" to keep leading and trailing spaces.
  bool preserve_space = false;
  /// Elements whose paragraphs are no text to translate (a spreadsheet cell holding a number
  /// or a formula shows its value as a paragraph); null when there are none.
  bool (*skip)(std::string_view name, std::string_view tag) = nullptr;
};

/// The slots (one per paragraph element, in start order) and segments of one part.
Result<std::vector<TextSlot>> extract_paragraphs(std::string_view xml,
                                                 const ParagraphVocabulary& vocabulary,
                                                 std::vector<Segment>& segments);

/// The part with every translated paragraph rebuilt; one whose translation is absent, or
/// equal to its text, keeps every byte. Fails with "xml: ..." or when the part no longer
/// holds what the slots were made from.
Result<std::string> rewrite_paragraphs(std::string_view xml, const ParagraphVocabulary& vocabulary,
                                       const std::vector<TextSlot>& slots,
                                       const std::vector<Segment>& segments,
                                       const Translations& translations);

/// The part reader of a vocabulary.
template <const ParagraphVocabulary& vocabulary>
struct ParagraphPart {
  static Result<std::vector<TextSlot>> extract(std::string_view xml,
                                               std::vector<Segment>& segments) {
    return extract_paragraphs(xml, vocabulary, segments);
  }
  static Result<std::string> rewrite(std::string_view xml, const std::vector<TextSlot>& slots,
                                     const std::vector<Segment>& segments,
                                     const Translations& translations) {
    return rewrite_paragraphs(xml, vocabulary, slots, segments, translations);
  }
  static constexpr PartReader reader{extract, rewrite};
};

}  // namespace quorvel
