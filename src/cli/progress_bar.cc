#include "cli/progress_bar.h"

#include <fmt/core.h>

#include <algorithm>

namespace quorvel {

namespace {

constexpr auto TERMINAL_GAP = std::chrono::milliseconds(200);
constexpr auto LINE_GAP = std::chrono::seconds(10);
constexpr int BAR_WIDTH = 24;

}  // namespace

std::string format_duration(std::chrono::seconds duration) {
  const long long s = std::max<long long>(0, duration.count());
  if (s < 60) return fmt::format("{}s", s);
  if (s < 3600) return fmt::format("{}m{:02}s", s / 60, s % 60);
  return fmt::format("{}h{:02}m", s / 3600, s % 3600 / 60);
}

std::string ProgressBar::status(Clock::time_point now) const {
  const auto whole = static_cast<std::size_t>(done_);
  std::string text = fmt::format("{}/{} paragraphs", whole, total_);
  const double seconds = std::chrono::duration<double>(now - started_).count();
  if (tokens_ > 0 && seconds > 0) text += fmt::format(", {:.1f} tokens/s", tokens_ / seconds);
  if (done_ > 0 && done_ < static_cast<double>(total_)) {
    const double left = seconds * (static_cast<double>(total_) - done_) / done_;
    text += fmt::format(", {} left",
                        format_duration(std::chrono::seconds(static_cast<long long>(left + 0.5))));
  }
  return text;
}

void ProgressBar::update(double done, std::size_t total) {
  done_ = std::max(done_, done);
  total_ = total;
  const auto now = Clock::now();
  const bool all_done = done_ >= static_cast<double>(total_);
  // The last state is always shown, once.
  if (all_done ? finished_ : now - drawn_ < (terminal_ ? TERMINAL_GAP : LINE_GAP)) return;
  finished_ = all_done;
  drawn_ = now;
  if (!terminal_) {
    std::fprintf(out_, "%s: %s\n", label_.c_str(), status(now).c_str());
    std::fflush(out_);
    return;
  }
  const int filled =
      total_ == 0 ? BAR_WIDTH : static_cast<int>(BAR_WIDTH * done_ / static_cast<double>(total_));
  std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(BAR_WIDTH - filled), '-');
  std::fprintf(out_, "\r%s [%s] %s\x1b[K", label_.c_str(), bar.c_str(), status(now).c_str());
  std::fflush(out_);
  shown_ = true;
}

void ProgressBar::close() {
  if (terminal_ && shown_) {
    std::fputs("\r\x1b[K", out_);
    std::fflush(out_);
  }
  shown_ = false;
}

}  // namespace quorvel
