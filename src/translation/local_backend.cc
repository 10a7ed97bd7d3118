#include "translation/local_backend.h"

#include "platform/env.h"

namespace quorvel {

Result<EngineContext*> LocalBackend::obtain_context() {
  auto engine = ensure_engine(engine_slot);
  if (!engine) return std::unexpected(engine.error());
  if (context_) {
    // Allocating and zeroing a new context costs most of a second on a small machine.
    context_->reset();
    return context_.get();
  }
  auto context = create_context(**engine);
  if (!context) return std::unexpected(context.error());
  context_ = std::move(*context);
  return context_.get();
}

Result<std::unique_ptr<Generator>> LocalBackend::open_call() {
  auto context = obtain_context();
  if (!context) return std::unexpected(context.error());
  if (!memory_opened_) {
    memory_opened_ = true;
    if (auto file = memory_file(&env_var)) memory = TranslationMemory::open(*file);
  }
  return std::make_unique<MemoryGenerator>(**context, memory.get(), engine_slot.identity);
}

}  // namespace quorvel
