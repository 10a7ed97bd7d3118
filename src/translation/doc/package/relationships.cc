#include "translation/doc/package/relationships.h"

#include <fmt/core.h>

#include "translation/doc/package/xml.h"

namespace quorvel {
namespace {

// Start tags of one element name, as written.
class TagCollector : public XmlHandler {
 public:
  TagCollector(std::string_view xml, std::string_view element) : xml_(xml), element_(element) {}
  void start(std::string_view name, ByteSpan tag, bool) override {
    if (name == element_) tags.push_back(xml_.substr(tag.begin, tag.end - tag.begin));
  }
  void end(std::string_view, ByteSpan) override {}
  void text(std::string_view) override {}

  std::vector<std::string_view> tags;

 private:
  std::string_view xml_;
  std::string_view element_;
};

Result<std::vector<std::string_view>> collect(std::string_view xml, std::string_view element) {
  TagCollector collector(xml, element);
  auto parsed = parse_xml(xml, collector);
  if (!parsed) return std::unexpected(parsed.error());
  return std::move(collector.tags);
}

// Attribute values of these parts are names and paths; the references a writer may have
// used in them are decoded here.
std::string decoded(std::string_view raw) {
  static constexpr std::pair<std::string_view, char> ENTITIES[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    bool replaced = false;
    for (auto [entity, c] : ENTITIES) {
      if (raw.substr(i).starts_with(entity)) {
        out += c;
        i += entity.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += raw[i++];
  }
  return out;
}

}  // namespace

Result<std::vector<Relationship>> read_relationships(std::string_view xml) {
  auto tags = collect(xml, "Relationship");
  if (!tags) return std::unexpected(tags.error());
  std::vector<Relationship> relationships;
  for (auto tag : *tags) {
    relationships.push_back({decoded(raw_attribute(tag, "Id")), decoded(raw_attribute(tag, "Type")),
                             decoded(raw_attribute(tag, "Target")),
                             raw_attribute(tag, "TargetMode") == "External"});
  }
  return relationships;
}

Result<std::vector<std::string>> attribute_values(std::string_view xml, std::string_view element,
                                                  std::string_view attribute) {
  auto tags = collect(xml, element);
  if (!tags) return std::unexpected(tags.error());
  std::vector<std::string> values;
  for (auto tag : *tags) {
    for (const auto& a : raw_attributes(tag)) {
      if (a.name == attribute && a.quoted_value.size() >= 2) {
        values.push_back(decoded(a.quoted_value.substr(1, a.quoted_value.size() - 2)));
      }
    }
  }
  return values;
}

std::string relationships_part(std::string_view part) {
  std::size_t slash = part.rfind('/');
  std::string_view folder = slash == std::string_view::npos ? "" : part.substr(0, slash + 1);
  std::string_view name = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return std::string(folder) + "_rels/" + std::string(name) + ".rels";
}

std::string target_part(std::string_view source, std::string_view target) {
  std::vector<std::string_view> path;
  if (!target.starts_with('/')) {
    std::size_t slash = source.rfind('/');
    std::string_view folder = slash == std::string_view::npos ? "" : source.substr(0, slash);
    while (!folder.empty()) {
      std::size_t next = folder.find('/');
      path.push_back(folder.substr(0, next));
      folder = next == std::string_view::npos ? "" : folder.substr(next + 1);
    }
  }
  while (!target.empty()) {
    std::size_t next = target.find('/');
    std::string_view step = target.substr(0, next);
    target = next == std::string_view::npos ? "" : target.substr(next + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (path.empty()) return {};
      path.pop_back();
      continue;
    }
    path.push_back(step);
  }
  std::string out;
  for (auto step : path) {
    if (!out.empty()) out += '/';
    out += step;
  }
  return out;
}

Result<std::vector<Relationship>> relationships_of(const EntryReader& package,
                                                   std::string_view part) {
  std::string rels = relationships_part(part);
  auto content = package.named(rels);
  if (!content) return std::unexpected(content.error());
  if (!*content) return std::vector<Relationship>{};
  auto read = read_relationships(**content);
  if (!read) {
    return fail(ErrorKind::format, fmt::format("parsing {}", rels), read.error().message);
  }
  return read;
}

Result<std::vector<std::size_t>> related_entries(const EntryReader& package, std::string_view part,
                                                 std::string_view type_suffix) {
  auto links = relationships_of(package, part);
  if (!links) return std::unexpected(links.error());
  std::vector<std::size_t> found;
  for (const auto& link : *links) {
    if (link.external || !link.type.ends_with(type_suffix)) continue;
    std::size_t entry = package.find(target_part(part, link.target));
    if (entry < package.entries.size()) found.push_back(entry);
  }
  return found;
}

}  // namespace quorvel
