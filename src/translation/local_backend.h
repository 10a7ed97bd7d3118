#pragma once
// The model on this machine, for any front end (the server's worker, the terminal CLI): the
// engine and its context are made on the first call that needs them and kept; each call
// starts on an emptied context, behind the translation memory.

#include <memory>

#include "engine/discovery.h"
#include "engine/generator.h"
#include "engine/model.h"
#include "platform/error.h"
#include "translation/backend.h"
#include "translation/memory.h"

namespace quorvel {

/// One thread at a time; the generator of a call must be dropped before the backend.
class LocalBackend final : public Backend {
 public:
  /// The generator of one call: the kept context, emptied, behind the memory.
  Result<std::unique_ptr<Generator>> open_call() override;

  /// The engine and its context, made on first use; the context emptied of what the
  /// previous call left.
  Result<EngineContext*> obtain_context();

  EngineSlot engine_slot;
  /// Opened on the first call that reaches the engine, then kept; null when it is off or
  /// cannot be used.
  std::unique_ptr<TranslationMemory> memory;

 private:
  bool memory_opened_ = false;
  // Declared after the slot: dropped before the engine it borrows.
  std::unique_ptr<EngineContext> context_;
};

}  // namespace quorvel
