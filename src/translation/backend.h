#pragma once
// Where a front end's translations are computed: the model on this machine (LocalBackend) or
// llama.cpp servers over HTTP (RemoteBackend). Chosen once at start-up from the settings.

#include <memory>

#include "engine/generator.h"
#include "platform/error.h"

namespace quorvel {

class Backend {
 public:
  virtual ~Backend() = default;
  /// The generator of one call, behind the translation memory. One thread at a time; the
  /// generator must be dropped before the backend.
  virtual Result<std::unique_ptr<Generator>> open_call() = 0;
};

/// The remote backend when TRANSLATE_LLM_URL is set (or the error its settings give on every
/// call), otherwise nothing: the caller then keeps its LocalBackend. Reads the environment.
std::unique_ptr<Backend> remote_backend_from_env();

}  // namespace quorvel
