#pragma once
// A Generator whose prompts are answered by llama.cpp servers (or OpenAI-compatible ones)
// over HTTP. Each server gets as many prompts at once as it has slots; a server that fails
// leaves rotation for a while and its prompts go to the others; a call fails only when no
// server is left to answer. Answers stream in, so progress counts tokens and a stop closes
// the requests at once.

#include <optional>
#include <string>

#include "engine/generator.h"
#include "engine/remote/server_pool.h"

namespace quorvel {

/// Learns the slots and model of every server in rotation not described yet, all at once,
/// warning once per server whose model is not of the expected family. Fails with the pool's
/// summary when no server is described afterwards.
Result<void> describe_servers(ServerPool& pool);

/// What the servers' answers depend on besides the prompt: the models they serve.
std::string remote_identity(const ServerPool& pool);

/// Borrows the pool, which must outlive it. One thread at a time; a call may be made from
/// inside an `on_result` of a running generate_many (the running requests then wait, and
/// their servers may queue the new one behind them).
class RemoteGenerator final : public Generator {
 public:
  explicit RemoteGenerator(ServerPool& pool) : pool_(pool) {}

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override;

  /// Results reach `on_result` as the servers finish them, in any order. A prompt a server
  /// refuses (an HTTP 4xx about the request) ends the call with that error after the
  /// requests already running have finished.
  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override;

  std::optional<Error> lasting_failure() const override { return lost_; }

 private:
  ServerPool& pool_;
  std::optional<Error> lost_;  // set once no server answered
};

}  // namespace quorvel
