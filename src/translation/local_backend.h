#pragma once
// The model on this machine, for any front end (the server's worker, the terminal CLI): the
// engine is loaded on the first call that needs it and kept; each call gets a fresh context
// behind the translation memory.

#include <memory>

#include "engine/discovery.h"
#include "engine/generator.h"
#include "engine/model.h"
#include "platform/error.h"
#include "translation/memory.h"

namespace quorvel {

/// One thread at a time.
class LocalBackend {
 public:
  /// The generator of one call: a fresh context on the loaded engine, behind the memory.
  Result<std::unique_ptr<Generator>> open_call();

  /// The engine, loaded on first use, then a fresh context.
  Result<std::unique_ptr<EngineContext>> obtain_context();

  EngineSlot engine_slot;
  /// Opened on the first call that reaches the engine, then kept; null when it is off or
  /// cannot be used.
  std::unique_ptr<TranslationMemory> memory;

 private:
  bool memory_opened_ = false;
};

}  // namespace quorvel
