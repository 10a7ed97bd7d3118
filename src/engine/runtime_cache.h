#pragma once
// The program's only global: the bindings of engine directories made so far, so that a
// directory's libraries are loaded at most once per process.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/llama_api.h"

namespace quorvel {

struct RuntimeCache {
  std::mutex mutex;  // held for the whole of a binding
  /// Canonical engine directory → its binding. Entries are never removed.
  std::map<std::string, std::shared_ptr<const LlamaApi>> entries;
};

/// The process-wide cache, created empty on first use and never destroyed (the libraries it
/// keeps loaded must outlive every static destructor that might still reach them).
RuntimeCache& runtime_cache();

}  // namespace quorvel
