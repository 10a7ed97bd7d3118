#pragma once
// `quorvel model pull`: downloads a GGUF model into the per-user model folder under the
// default model's name. An interrupted download resumes where it stopped; nothing but a
// complete, checked GGUF file ever takes the model's name.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

namespace quorvel {

struct PullOptions {
  std::optional<std::string> url;     // without one: where to get the default model
  std::optional<std::string> sha256;  // hex; checked when given
};

/// 0 when the model is in place (or the advice was printed), 1 on a failure, 130 when stopped.
int run_model_pull(const PullOptions& options, std::stop_token stop, std::FILE* out, std::FILE* err,
                   bool terminal);

}  // namespace quorvel
