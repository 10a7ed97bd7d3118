#pragma once
// A scripted Generator for pipeline tests: answers are chosen per prompt by a function of
// the prompt's text and sampling parameters, failures are injected at chosen prompt numbers,
// and every prompt it was given is recorded. Failing and batching follow the real engine:
// the first failing prompt of generate_many ends the call, and on_result runs only for the
// prompts answered before it.

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/generator.h"
#include "translation/inline_tags.h"

namespace quorvel {

struct GeneratorCall {
  std::string prompt;
  uint32_t max_new_tokens = 0;
  SamplingParams params;
  bool batched = false;  // part of a generate_many call
  bool failed = false;
};

class FakeGenerator : public Generator {
 public:
  /// Computes the raw answer from the text the prompt asks to translate.
  using Answer = std::function<std::string(std::string_view text, const SamplingParams& params)>;

  /// By default every text comes back tagged, "[xx] text", which the answer checks accept.
  explicit FakeGenerator(Answer answer = tagged("xx")) : answer_(std::move(answer)) {}

  static Answer tagged(std::string tag) {
    return [tag](std::string_view text, const SamplingParams&) {
      return "[" + tag + "] " + std::string(text);
    };
  }

  /// Like tagged(), but with every inline tag of the text lost, as a model that breaks them.
  static Answer tags_lost(std::string tag) {
    return [tag](std::string_view text, const SamplingParams&) {
      return "[" + tag + "] " + strip_inline_tags(text);
    };
  }

  /// The text a TranslateGemma prompt asks to translate (the whole prompt if it is not one).
  static std::string_view text_of(std::string_view prompt) {
    constexpr std::string_view before = ":\n\n\n";
    constexpr std::string_view after = "<end_of_turn>\n<start_of_turn>model\n";
    std::size_t start = prompt.find(before);
    if (start == std::string_view::npos || !prompt.ends_with(after)) return prompt;
    start += before.size();
    return prompt.substr(start, prompt.size() - after.size() - start);
  }

  /// Makes the n-th prompt (counting from 1 over every call) fail with `message`.
  void fail_at(std::size_t n, std::string message = "llama_decode failed on prompt (rc 1)") {
    failures_.insert(n);
    message_ = std::move(message);
  }
  /// Makes the n-th prompt and every later one fail.
  void fail_from(std::size_t n) { fail_from_ = n; }

  const std::vector<GeneratorCall>& calls() const { return calls_; }
  std::size_t batch_calls() const { return batch_calls_; }

  /// The texts of the recorded prompts, in order.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& call : calls_) out.emplace_back(text_of(call.prompt));
    return out;
  }

  /// Runs before each prompt, with the prompt's number (counting from 1 over every call):
  /// tests use it to cancel or to queue work at a chosen point.
  std::function<void(std::size_t n)> before_prompt;

  Result<std::string> generate(std::string_view prompt, uint32_t max_new_tokens,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override {
    return run(prompt, max_new_tokens, params, false, control);
  }

  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override {
    ++batch_calls_;
    std::vector<std::string> results(prompts.size());
    for (std::size_t i = 0; i < prompts.size(); ++i) {
      auto text = run(prompts[i].prompt, prompts[i].max_new_tokens, params, true, control);
      if (!text) return std::unexpected(text.error());
      bool go_on = on_result(i, *text);
      results[i] = std::move(*text);
      if (!go_on) break;
    }
    return results;
  }

 private:
  Result<std::string> run(std::string_view prompt, uint32_t max_new_tokens,
                          const SamplingParams& params, bool batched,
                          const GenerationControl& control) {
    const std::size_t n = calls_.size() + 1;
    if (before_prompt) before_prompt(n);
    if (control.stop.stop_requested()) return fail(ErrorKind::cancelled, "cancelled");
    const bool failed = failures_.contains(n) || (fail_from_ != 0 && n >= fail_from_);
    calls_.push_back({std::string(prompt), max_new_tokens, params, batched, failed});
    if (failed) return fail(ErrorKind::engine, message_);
    return answer_(text_of(prompt), params);
  }

  Answer answer_;
  std::set<std::size_t> failures_;
  std::size_t fail_from_ = 0;
  std::string message_ = "llama_decode failed on prompt (rc 1)";
  std::vector<GeneratorCall> calls_;
  std::size_t batch_calls_ = 0;
};

}  // namespace quorvel
