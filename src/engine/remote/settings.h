#pragma once
// Where the remote engine is and how it is used, read once at start-up from the environment:
// TRANSLATE_LLM_URL (comma-separated base URLs), TRANSLATE_LLM_SLOTS (prompts in flight per
// server where the server does not say), TRANSLATE_LLM_TIMEOUT (seconds without news
// before a server counts as failed) and TRANSLATE_LLM_API_KEY (sent as a bearer token, for
// servers started with an API key).

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace quorvel {

/// How a server is spoken to: llama-server's own API, or the OpenAI-compatible one that a
/// base URL ending in "/v1" names.
enum class RemoteApi { native, openai };

struct ServerAddress {
  std::string base;  // without a trailing slash
  RemoteApi api = RemoteApi::native;
};

struct RemoteSettings {
  std::vector<ServerAddress> servers;
  /// Prompts in flight per server when set; otherwise the server's slot count (llama-server),
  /// or DEFAULT_SLOTS.
  std::optional<int> slots;
  std::chrono::seconds idle_timeout{300};
  std::string api_key;  // empty: no Authorization header
};

inline constexpr int DEFAULT_SLOTS = 4;
inline constexpr int MAX_SLOTS = 256;

/// Nothing when TRANSLATE_LLM_URL is unset or empty (the local engine is used); an error
/// naming the variable when a value cannot be used.
Result<std::optional<RemoteSettings>> read_remote_settings(
    const std::function<std::optional<std::string>(const char*)>& env);

}  // namespace quorvel
