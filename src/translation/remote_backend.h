#pragma once
// Translation through llama.cpp servers: the pool of servers lives as long as the backend,
// so a server out of rotation stays out across calls; each call gets a generator over it,
// behind the translation memory.

#include <cstdio>
#include <memory>

#include "engine/remote/server_pool.h"
#include "translation/backend.h"
#include "translation/memory.h"

namespace quorvel {

class RemoteBackend final : public Backend {
 public:
  /// A backend whose every call fails with `settings`' error, or one over those servers.
  explicit RemoteBackend(Result<RemoteSettings> settings, std::FILE* log = stderr);

  /// Describes the servers not described yet (failing, naming each server's error, when none
  /// answers), then gives a generator over them behind the memory.
  Result<std::unique_ptr<Generator>> open_call() override;

  std::unique_ptr<TranslationMemory> memory;

 private:
  std::optional<Error> settings_error_;
  std::unique_ptr<ServerPool> pool_;
  std::FILE* log_;
  bool memory_opened_ = false;
};

}  // namespace quorvel
