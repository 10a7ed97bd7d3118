#include "translation/local_backend.h"

#include "platform/env.h"

namespace quorvel {

namespace {

// A call's context with the memory in front of it; both go when the call ends.
class RememberingContext final : public ForwardingGenerator {
 public:
  RememberingContext(std::unique_ptr<EngineContext> context, TranslationMemory* memory,
                     std::string identity)
      : ForwardingGenerator(remembering_),
        context_(std::move(context)),
        remembering_(*context_, memory, std::move(identity)) {}

 private:
  std::unique_ptr<EngineContext> context_;
  MemoryGenerator remembering_;
};

}  // namespace

Result<std::unique_ptr<EngineContext>> LocalBackend::obtain_context() {
  auto engine = ensure_engine(engine_slot);
  if (!engine) return std::unexpected(engine.error());
  return create_context(**engine);
}

Result<std::unique_ptr<Generator>> LocalBackend::open_call() {
  auto context = obtain_context();
  if (!context) return std::unexpected(context.error());
  if (!memory_opened_) {
    memory_opened_ = true;
    if (auto file = memory_file(&env_var)) memory = TranslationMemory::open(*file);
  }
  return std::make_unique<RememberingContext>(std::move(*context), memory.get(),
                                              engine_slot.identity);
}

}  // namespace quorvel
