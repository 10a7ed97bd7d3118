#pragma once
// The index parts of Office Open XML packages: which part a relationship points at, and the
// elements (slide lists) that give parts their order.

#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "translation/doc/package/package.h"

namespace quorvel {

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // as written: relative to the source part's folder, or from the root
  bool external = false;
};

/// The <Relationship> elements of a .rels part. Fails with "xml: ...".
Result<std::vector<Relationship>> read_relationships(std::string_view xml);

/// The value of `attribute` on each element named `element`, in document order (elements
/// without it are left out). Fails with "xml: ...".
Result<std::vector<std::string>> attribute_values(std::string_view xml, std::string_view element,
                                                  std::string_view attribute);

/// The relationships part of a part: ppt/slides/slide1.xml -> ppt/slides/_rels/slide1.xml.rels.
std::string relationships_part(std::string_view part);

/// The part a target of `source` names: ../notesSlides/n.xml from ppt/slides/s.xml is
/// ppt/notesSlides/n.xml; a target starting with / is from the package root. Empty when it
/// leaves the package.
std::string target_part(std::string_view source, std::string_view target);

/// The relationships of `part` in a package; none when it has no relationships part. Fails
/// with "parsing {rels part}" or the archive's error.
Result<std::vector<Relationship>> relationships_of(const EntryReader& package,
                                                   std::string_view part);

/// The entries that the relationships of `part` whose type ends with `type_suffix` name,
/// in the order of the relationships part.
Result<std::vector<std::size_t>> related_entries(const EntryReader& package, std::string_view part,
                                                 std::string_view type_suffix);

}  // namespace quorvel
