#include "translation/pipeline.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "translation/detect.h"
#include "translation/prompt.h"

namespace quorvel {

namespace {

// Sampled first for a natural translation, then greedy as the deterministic second chance.
constexpr float FIRST_TEMPERATURE = 0.2f;
constexpr float RETRY_TEMPERATURE = 0.0f;
constexpr int32_t TOP_K = 64;
constexpr float TOP_P = 0.95f;
constexpr uint32_t SEED = 24301;

constexpr std::size_t DETECTION_SAMPLE_BYTES = 4000;
// The most one paragraph gives the sample: a paragraph of hundreds of megabytes would
// otherwise be copied whole (and then read by the detector) to decide its language.
constexpr std::size_t DETECTION_SEGMENT_BYTES = 64 * 1024;

SamplingParams sampling(float temperature) {
  return {temperature, TOP_K, TOP_P, SEED};
}

// The start of `text`, at most `bytes` long, not cutting a character.
std::string_view utf8_head(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

// Whether the segment's visible text needs no model, without copying an untagged one.
bool segment_needs_no_translation(const Segment& segment) {
  if (segment.tags == TagPolicy::none) return needs_no_translation(segment.text);
  return needs_no_translation(visible_text(segment));
}

// The leading segments (at most DETECTION_SEGMENT_BYTES of each), each followed by a line
// feed, up to the first one that brings the sample to the limit.
std::string detection_sample(std::span<const Segment> segments) {
  std::string sample;
  for (const auto& segment : segments) {
    if (segment.tags == TagPolicy::none) {
      sample += utf8_head(segment.text, DETECTION_SEGMENT_BYTES);
    } else {
      // Tags take room too: twice the room, then the visible part of that.
      const Segment head{std::string(utf8_head(segment.text, 2 * DETECTION_SEGMENT_BYTES)),
                         segment.tags};
      sample += utf8_head(visible_text(head), DETECTION_SEGMENT_BYTES);
    }
    const bool full = sample.size() >= DETECTION_SAMPLE_BYTES;
    sample += '\n';
    if (full) break;
  }
  return sample;
}

// A caller's progress, or nothing: reports go nowhere and nothing stops.
class Reporter {
 public:
  explicit Reporter(Progress* progress) : progress_(progress) {
    if (progress_) control_.stop = progress_->stop_token();
  }

  bool stopped() const { return control_.stop.stop_requested(); }
  void update(double done, std::size_t total) const {
    if (progress_) progress_->update(done, total);
  }
  void at_boundary(Generator& generator) const {
    if (progress_ && !stopped()) progress_->at_boundary(generator);
  }
  /// The control of one generation call; `fraction` receives, for each prompt, the share of
  /// it done.
  GenerationControl control(
      std::function<void(std::size_t index, double fraction)> fraction) const {
    GenerationControl control = control_;
    if (progress_) {
      // The first report of a prompt counts what its reused prefix already holds: a baseline,
      // not work done. Prompts decoded together report in turns.
      control.on_tokens = [progress = progress_, fraction = std::move(fraction),
                           seen = std::unordered_map<std::size_t, uint64_t>{}](
                              std::size_t index, uint64_t done, uint64_t total) mutable {
        auto [it, first] = seen.try_emplace(index, done);
        if (!first && done > it->second) progress->tokens(done - it->second);
        it->second = done;
        if (total != 0) fraction(index, static_cast<double>(done) / static_cast<double>(total));
      };
    }
    return control;
  }

 private:
  Progress* progress_;
  GenerationControl control_;
};

// Whether the model would refuse any prompt holding `text` unread. Such a paragraph keeps
// its text without a prompt being built: a prompt is another copy of a paragraph that may
// be hundreds of megabytes.
bool too_long_for(const Generator& generator, std::string_view text) {
  const auto limit = generator.prompt_bytes_limit();
  return limit && text.size() >= *limit;
}

// One segment with both attempts of the schedule; the first accepted answer, or nothing.
std::optional<std::string> translate_alone(Generator& generator, const TranslationRequest& request,
                                           const Segment& segment, Progress* progress) {
  const std::string& text = segment.text;
  if (segment_needs_no_translation(segment)) return text;
  if (too_long_for(generator, text)) return std::nullopt;
  const std::string prompt = build_prompt(request, text);
  const uint32_t budget = token_budget(text);
  const Reporter reporter(progress);
  auto control =
      reporter.control([&](std::size_t, double fraction) { reporter.update(fraction, 1); });
  for (float temperature : {FIRST_TEMPERATURE, RETRY_TEMPERATURE}) {
    if (reporter.stopped()) return std::nullopt;
    auto answer = generator.generate(prompt, budget, sampling(temperature), control);
    if (!answer) continue;
    const bool last = temperature == RETRY_TEMPERATURE;
    if (auto accepted = accept_answer(segment, *answer, last)) return accepted;
  }
  return std::nullopt;
}

// The working state of one translate_segments call.
class Batch {
 public:
  Batch(Generator& generator, TranslationRequest request, std::span<const Segment> segments,
        const Reporter& reporter)
      : generator_(generator),
        request_(std::move(request)),
        segments_(segments),
        reporter_(reporter),
        results_(segments.size()),
        duplicates_(segments.size()) {}

  void plan();
  void run_pass(float temperature, bool last);
  bool has_pending() const { return !pending_.empty(); }
  // Slots never settled stay absent.
  Translations finish() { return std::move(results_); }

 private:
  void settle(std::size_t position, const std::optional<std::string>& translation);
  void handle_answer(std::size_t position, std::string_view answer, bool last);

  // Settled segments plus the share done of each one in the model.
  void report() const {
    double fraction = 0.0;
    for (const auto& [index, share] : in_flight_) fraction += share;
    reporter_.update(static_cast<double>(settled_) + fraction, segments_.size());
  }

  Generator& generator_;
  const TranslationRequest request_;
  std::span<const Segment> segments_;
  const Reporter& reporter_;
  std::size_t settled_ = 0;  // entries of results_ that are final
  Translations results_;
  std::vector<std::vector<std::size_t>> duplicates_;
  std::vector<std::size_t> pending_;
  std::vector<std::size_t> retry_;
  std::unordered_map<std::size_t, double> in_flight_;  // prompt index -> share done
};

// Passes through what needs no translation and keeps only the first of equal trimmed texts.
void Batch::plan() {
  // Equal texts under different tag policies may end differently, so each policy has its own.
  std::unordered_map<std::string_view, std::size_t> first_with_text[3];
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    const std::string& text = segments_[i].text;
    if (segment_needs_no_translation(segments_[i])) {
      settle(i, text);
      continue;
    }
    if (too_long_for(generator_, text)) {
      settle(i, std::nullopt);
      continue;
    }
    auto& first = first_with_text[static_cast<std::size_t>(segments_[i].tags)];
    auto [it, inserted] = first.try_emplace(trim(text), i);
    if (inserted) {
      pending_.push_back(i);
    } else {
      duplicates_[it->second].push_back(i);
    }
  }
}

void Batch::settle(std::size_t position, const std::optional<std::string>& translation) {
  results_[position] = translation;
  for (std::size_t duplicate : duplicates_[position]) {
    results_[duplicate] = translation;
  }
  settled_ += 1 + duplicates_[position].size();
}

void Batch::handle_answer(std::size_t position, std::string_view answer, bool last) {
  if (auto accepted = accept_answer(segments_[position], answer, last)) {
    settle(position, std::move(accepted));
  } else if (!last) {
    retry_.push_back(position);
  } else {
    settle(position, std::nullopt);
  }
}

void Batch::run_pass(float temperature, bool last) {
  std::vector<PromptRequest> prompts;
  prompts.reserve(pending_.size());
  for (std::size_t position : pending_) {
    const std::string& text = segments_[position].text;
    prompts.push_back({build_prompt(request_, text), token_budget(text)});
  }
  std::vector<bool> done(pending_.size(), false);
  retry_.clear();

  auto on_result = [&](std::size_t index, const std::string& answer) {
    in_flight_.erase(index);
    if (index < done.size() && !done[index]) {
      done[index] = true;
      handle_answer(pending_[index], answer, last);
    }
    report();
    reporter_.at_boundary(generator_);
    return !reporter_.stopped();
  };
  auto control = reporter_.control([this](std::size_t index, double fraction) {
    in_flight_[index] = fraction;
    report();
  });
  // An error only stops the batch early; what it left unanswered is caught up below.
  (void)generator_.generate_many(prompts, sampling(temperature), on_result, control);
  in_flight_.clear();
  std::vector<PromptRequest>().swap(prompts);  // each catch-up below builds its own

  for (std::size_t j = 0;
       j < pending_.size() && !reporter_.stopped() && !generator_.lasting_failure(); ++j) {
    if (done[j]) continue;
    settle(pending_[j], translate_alone(generator_, request_, segments_[pending_[j]], nullptr));
    report();
  }
  pending_ = std::move(retry_);
  retry_.clear();
}

}  // namespace

std::optional<std::string> translate_one(Generator& generator, const TranslationRequest& request,
                                         std::string_view text, Progress* progress) {
  return translate_alone(generator, request, Segment{std::string(text)}, progress);
}

Translations translate_segments(Generator& generator, const TranslationRequest& request,
                                std::span<const Segment> segments, Progress* progress) {
  TranslationRequest copy = request;
  if (!copy.source) copy.source = source_tag_for(copy, detection_sample(segments));

  const Reporter reporter(progress);
  Batch batch(generator, std::move(copy), segments, reporter);
  batch.plan();
  if (batch.has_pending() && !reporter.stopped()) batch.run_pass(FIRST_TEMPERATURE, false);
  if (batch.has_pending() && !reporter.stopped()) batch.run_pass(RETRY_TEMPERATURE, true);
  return batch.finish();
}

}  // namespace quorvel
