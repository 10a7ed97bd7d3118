#pragma once
// The entry names of a package in archive order, for the whole-package targets. A copy we
// wrote always lists: an entry that would deflate past the zip-bomb ratio is written stored.

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "translation/doc/package/zip.h"

namespace quorvel::fuzz {

inline std::vector<std::string> entry_names(const std::string& path, std::string_view kind,
                                            const PackageLimits& limits) {
  auto archive = ZipArchive::open(path, "opening", std::nullopt, kind, limits);
  FUZZ_CHECK(archive.has_value());
  auto entries = archive->entries();
  FUZZ_CHECK(entries.has_value());
  std::vector<std::string> names;
  for (const auto& entry : *entries) names.push_back(entry.name);
  return names;
}

}  // namespace quorvel::fuzz
