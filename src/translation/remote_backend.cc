#include "translation/remote_backend.h"

#include <fmt/core.h>

#include "engine/remote/remote_generator.h"
#include "platform/env.h"

namespace quorvel {

namespace {

// The memory wrapper owning the call's remote generator.
class OwningMemoryGenerator final : public ForwardingGenerator {
 public:
  OwningMemoryGenerator(ServerPool& pool, TranslationMemory* memory, std::string identity)
      : ForwardingGenerator(outer_), remote_(pool), outer_(remote_, memory, std::move(identity)) {}

 private:
  RemoteGenerator remote_;
  MemoryGenerator outer_;
};

}  // namespace

RemoteBackend::RemoteBackend(Result<RemoteSettings> settings, std::FILE* log) : log_(log) {
  if (!settings) {
    settings_error_ = settings.error();
    return;
  }
  pool_ = std::make_unique<ServerPool>(std::move(*settings), log);
}

Result<std::unique_ptr<Generator>> RemoteBackend::open_call() {
  if (settings_error_) return std::unexpected(*settings_error_);
  if (auto described = describe_servers(*pool_); !described) {
    return std::unexpected(described.error());
  }
  if (!memory_opened_) {
    memory_opened_ = true;
    if (auto file = memory_file(&env_var)) memory = TranslationMemory::open(*file, log_);
  }
  return std::make_unique<OwningMemoryGenerator>(*pool_, memory.get(), remote_identity(*pool_));
}

std::unique_ptr<Backend> remote_backend_from_env() {
  auto settings = read_remote_settings(&env_var);
  if (settings && !*settings) return nullptr;
  if (!settings) return std::make_unique<RemoteBackend>(std::unexpected(settings.error()));
  return std::make_unique<RemoteBackend>(std::move(**settings));
}

}  // namespace quorvel
