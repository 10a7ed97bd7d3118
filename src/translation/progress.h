#pragma once
// What a long translation tells whoever started it, and how that caller stops it. The
// pipeline reports and checks through this and knows nothing of who listens (a protocol
// client, a terminal, nobody).

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <utility>

#include "engine/generator.h"

namespace quorvel {

/// Called on the thread that translates.
class Progress {
 public:
  virtual ~Progress() = default;

  /// `done` of `total` units (segments of a document, 1 for a text): those settled plus
  /// the fraction of the one in the model. Not always increasing: a rejected answer is
  /// tried again from the start.
  virtual void update(double done, std::size_t total) = 0;

  /// `count` more tokens went through the model (prompt tokens decoded, tokens generated;
  /// reused prompt tokens do not count).
  virtual void tokens(uint64_t count) { (void)count; }

  /// Between two prompts, when `generator` is idle: the caller may run short work of its
  /// own on it (the memory then holds another prompt, which the next one partly re-decodes).
  virtual void at_boundary(Generator& generator) { (void)generator; }

  /// Once requested, the translation ends as soon as it can and its result is void.
  virtual std::stop_token stop_token() const { return {}; }
};

/// Reports nowhere; stops when `stop` is requested (never, by default).
class SilentProgress final : public Progress {
 public:
  explicit SilentProgress(std::stop_token stop = {}) : stop_(std::move(stop)) {}
  void update(double, std::size_t) override {}
  std::stop_token stop_token() const override { return stop_; }

 private:
  std::stop_token stop_;
};

}  // namespace quorvel
