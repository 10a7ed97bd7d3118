#include "translation/doc/package/package.h"

#include <fmt/core.h>

namespace quorvel {

std::size_t EntryReader::find(std::string_view name) const {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].name == name) return i;
  }
  return entries.size();
}

Result<std::optional<std::string>> EntryReader::named(std::string_view name) const {
  std::size_t index = find(name);
  if (index == entries.size()) return std::optional<std::string>();
  if (entries[index].size > limits.text_bytes) {
    return fail(ErrorKind::limit, fmt::format("reading {} zip: {} exceeds the {} MiB limit", kind,
                                              name, limits.text_bytes / MIB));
  }
  auto content = archive.read(index, entries[index].size);
  if (!content) return std::unexpected(content.error());
  return std::optional<std::string>(std::move(*content));
}

Result<PackageDocument> extract_package(const std::string& path, const PackageFormat& format) {
  const std::string kind_message = fmt::format("reading {} zip", format.kind);
  auto archive = ZipArchive::open(path, fmt::format("opening {}", path), kind_message, format.kind,
                                  format.limits);
  if (!archive) return std::unexpected(archive.error());
  auto entries = archive->entries();
  if (!entries) return std::unexpected(entries.error());

  auto chosen = format.choose_parts(EntryReader{*archive, *entries, format.kind, format.limits});
  if (!chosen) return std::unexpected(chosen.error());
  std::uint64_t total = 0;
  for (const auto& part : *chosen) total += (*entries)[part.entry].size;
  if (total > format.limits.text_bytes) {
    return fail(ErrorKind::limit, fmt::format("{}: the text parts exceed the {} MiB limit",
                                              kind_message, format.limits.text_bytes / MIB));
  }

  PackageDocument document;
  document.format = &format;
  document.source_path = path;
  for (const auto& part : *chosen) {
    const auto& entry = (*entries)[part.entry];
    auto xml = archive->read(part.entry, entry.size);
    if (!xml) return std::unexpected(xml.error());
    auto slots = part.reader->extract(*xml, document.segments);
    if (!slots && slots.error().kind == ErrorKind::limit) return std::unexpected(slots.error());
    if (!slots) {
      return fail(ErrorKind::format, fmt::format("parsing {}", entry.name), slots.error().message);
    }
    document.parts.push_back(PackagePart{entry.name, std::move(*slots), part.reader});
  }
  if (document.segments.empty()) {
    return fail(ErrorKind::format, "no translatable text found in document");
  }
  return document;
}

}  // namespace quorvel
