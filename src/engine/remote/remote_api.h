#pragma once
// The words of the two completion APIs that are not the answer stream: where to send a
// prompt, the request body, what a server says about itself, and its error replies.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/generator.h"
#include "engine/remote/settings.h"
#include "platform/error.h"

namespace quorvel {

/// llama-server's /completion, or <base>/completions for a ".../v1" base.
std::string completion_url(const ServerAddress& server);

/// The exact prompt bytes as a raw completion (no chat template), streamed; llama-server
/// also keeps the prompt cached for the next one that shares its beginning, reports prompt
/// progress and samples as the local engine does (top-k, top-p, temperature).
std::string completion_body(const ServerAddress& server, std::string_view model,
                            std::string_view prompt, uint32_t max_new_tokens,
                            const SamplingParams& params);

/// Where a server says what it runs: llama-server's /props, or <base>/models.
std::string description_url(const ServerAddress& server);

struct ServerDescription {
  int slots = 0;  // 0 where the server does not say
  std::string model;
};

/// Reads a description body; an error when it is not what the API promises.
Result<ServerDescription> read_description(const ServerAddress& server, std::string_view body);

/// "HTTP <status>: <the server's message>" from an error reply, in bounded length.
std::string http_error_message(long status, std::string_view body);

/// Whether an HTTP status blames the request (another server would refuse it too) rather
/// than the server (busy, failing, overloaded), whose prompts then go elsewhere.
bool blames_request(long status);

/// Whether a model name looks like the TranslateGemma family the prompts are written for.
bool is_expected_family(std::string_view model);

}  // namespace quorvel
