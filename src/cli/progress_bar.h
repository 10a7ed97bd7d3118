#pragma once
// The progress of one file in a terminal: a bar redrawn in place (paragraphs done, tokens per
// second, time left), or, when standard error is not a terminal, a plain line now and then.

#include <chrono>
#include <cstdio>
#include <stop_token>
#include <string>

#include "translation/progress.h"

namespace quorvel {

/// "45s", "3m12s", "1h02m".
std::string format_duration(std::chrono::seconds duration);

class ProgressBar final : public Progress {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressBar(std::FILE* out, bool terminal, std::string label, std::stop_token stop)
      : out_(out), terminal_(terminal), label_(std::move(label)), stop_(std::move(stop)) {}

  void update(double done, std::size_t total) override;
  void tokens(uint64_t count) override { tokens_ += count; }
  std::stop_token stop_token() const override { return stop_; }

  /// Clears the bar so that the next line starts clean.
  void close();

  /// The status text: "40/212 paragraphs, 6.3 tokens/s, 3m12s left" (parts only once known).
  std::string status(Clock::time_point now) const;

 private:
  std::FILE* out_;
  bool terminal_;
  std::string label_;
  std::stop_token stop_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point drawn_{};
  double done_ = 0;
  std::size_t total_ = 0;
  uint64_t tokens_ = 0;
  bool shown_ = false;
  bool finished_ = false;
};

}  // namespace quorvel
