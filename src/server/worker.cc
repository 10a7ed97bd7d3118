#include "server/worker.h"

#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace quorvel {

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::chrono::milliseconds TICK{250};

bool wants_progress(const Waiter& waiter) {
  return !waiter.progress_token.is_null() || !waiter.task_id.empty();
}

}  // namespace

Json call_result(bool is_error, std::string text) {
  Json content = Json::array({{{"type", "text"}, {"text", std::move(text)}}});
  return {{"content", std::move(content)}, {"isError", is_error}};
}

bool Shutdown::wait_quiet(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return quiet_; });
}

void Shutdown::mark_quiet() {
  {
    std::lock_guard lock(mutex_);
    quiet_ = true;
  }
  changed_.notify_all();
}

struct Worker::Job {
  std::string key;
  PreparedCall call;
  std::vector<Waiter> waiters;  // guarded by Worker::mutex_
  std::stop_source stop;
  // The rest is guarded by Worker::mutex_.
  bool started = false;
  bool finished = false;  // its reply is on its way: no more progress
  double done = 0.0;      // the pipeline's latest report
  double sent = -1.0;     // the last progress value sent
  Clock::time_point sent_at = Clock::now();
};

// What the pipeline reports for one job reaches the worker, and the job's stop source
// reaches the pipeline.
class Worker::JobProgress final : public Progress {
 public:
  JobProgress(Worker& worker, Job& job) : worker_(worker), job_(job) {}

  void update(double done, std::size_t) override { worker_.update(job_, done); }
  void at_boundary(Generator& generator) override { worker_.run_quick_calls(generator); }
  std::stop_token stop_token() const override { return job_.stop.get_token(); }

 private:
  Worker& worker_;
  Job& job_;
};

Worker::Worker(ToolHandler& handler, Transport& transport, TaskStore& tasks, Shutdown& shutdown)
    : handler_(handler), transport_(transport), tasks_(tasks), shutdown_(shutdown) {
  worker_ = std::thread([this] { run_loop(); });
  ticker_ = std::thread([this] { tick_loop(); });
  on_shutdown_.emplace(shutdown_.stop.get_token(), std::function<void()>([this] { cancel_all(); }));
}

Worker::~Worker() {
  finish();
}

Result<void> Worker::submit(std::string key, PreparedCall call, Waiter waiter) {
  {
    std::lock_guard lock(mutex_);
    auto equal = [&](const std::shared_ptr<Job>& job) {
      return job->key == key && !job->finished && !job->stop.stop_requested();
    };
    auto running = std::find_if(running_.begin(), running_.end(), equal);
    if (running != running_.end()) {
      (*running)->waiters.push_back(std::move(waiter));
      return {};
    }
    auto queued = std::find_if(queue_.begin(), queue_.end(), equal);
    if (queued != queue_.end()) {
      (*queued)->waiters.push_back(std::move(waiter));
      return {};
    }
    if (queue_.size() >= MAX_QUEUED_CALLS) {
      return fail(ErrorKind::limit,
                  fmt::format("too many translations waiting (at most {}); retry when one has "
                              "finished",
                              MAX_QUEUED_CALLS));
    }
    auto job = std::make_shared<Job>();
    job->key = std::move(key);
    job->call = std::move(call);
    job->waiters.push_back(std::move(waiter));
    queue_.push_back(std::move(job));
  }
  work_changed_.notify_all();
  return {};
}

template <class Match>
void Worker::drop_waiters(Match match) {
  std::lock_guard lock(mutex_);
  auto drop = [&](const std::shared_ptr<Job>& job) {
    if (std::erase_if(job->waiters, match) == 0 || !job->waiters.empty()) return false;
    job->stop.request_stop();
    return true;
  };
  for (const auto& job : running_) drop(job);
  std::erase_if(queue_, drop);
}

void Worker::cancel_request(const Json& id) {
  drop_waiters([&](const Waiter& waiter) { return waiter.task_id.empty() && waiter.id == id; });
}

void Worker::cancel_task(const std::string& task_id) {
  drop_waiters([&](const Waiter& waiter) { return waiter.task_id == task_id; });
}

void Worker::cancel_all() {
  std::lock_guard lock(mutex_);
  for (const auto& job : running_) {
    job->waiters.clear();
    job->stop.request_stop();
  }
  queue_.clear();
  if (running_.empty()) shutdown_.mark_quiet();
}

void Worker::finish() {
  if (!worker_.joinable()) return;
  on_shutdown_.reset();
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  work_changed_.notify_all();
  worker_.join();
  {
    std::lock_guard lock(mutex_);
    ticking_ = false;
  }
  ticker_wake_.notify_all();
  ticker_.join();
}

void Worker::run_loop() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(mutex_);
      work_changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      job = queue_.front();
      queue_.pop_front();
      job->started = true;
      running_.push_back(job);
    }
    execute(job, nullptr);
    std::lock_guard lock(mutex_);
    std::erase(running_, job);
    if (running_.empty() && shutdown_.stop.stop_requested()) shutdown_.mark_quiet();
  }
}

// A text waiting behind a document runs between two of the document's prompts, on the
// document's context, instead of after the whole document.
void Worker::run_quick_calls(Generator& generator) {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      auto quick = std::find_if(queue_.begin(), queue_.end(),
                                [](const auto& queued) { return queued->call.is_text(); });
      if (quick == queue_.end()) return;
      job = *quick;
      queue_.erase(quick);
      job->started = true;
      running_.push_back(job);
    }
    execute(job, &generator);
    std::lock_guard lock(mutex_);
    std::erase(running_, job);
  }
}

void Worker::execute(const std::shared_ptr<Job>& job, Generator* generator) {
  JobProgress progress(*this, *job);
  Result<std::string> result;
  try {
    result = generator ? run_prepared(job->call, *generator, progress)
                       : handler_.run(job->call, progress);
  } catch (const std::exception& e) {
    // Last resort: a failing call must never take the server down.
    result = fail(ErrorKind::io, fmt::format("internal error: {}", e.what()));
  }
  deliver(job, result);
}

void Worker::deliver(const std::shared_ptr<Job>& job, const Result<std::string>& result) {
  std::vector<Waiter> waiters;
  {
    std::lock_guard lock(mutex_);
    job->finished = true;
    waiters.swap(job->waiters);
  }
  if (!result && result.error().kind == ErrorKind::cancelled) return;
  const bool is_error = !result;
  const Json reply = call_result(is_error, is_error ? result.error().message : *result);
  for (const auto& waiter : waiters) {
    if (!waiter.task_id.empty()) {
      tasks_.finish(waiter.task_id, reply, is_error);
    } else {
      transport_.result(waiter.id, reply);
    }
  }
}

void Worker::update(Job& job, double done) {
  std::lock_guard lock(mutex_);
  job.done = done;
}

void Worker::tick_loop() {
  std::unique_lock lock(mutex_);
  while (ticking_) {
    ticker_wake_.wait_for(lock, TICK);
    const auto now = Clock::now();
    for (const auto& job : running_) tick(*job, now);
    for (const auto& job : queue_) tick(*job, now);
  }
}

// Sends the job's progress when it is due: a new value at most every PROGRESS_MIN_GAP, and
// while nothing new is known (a long prompt chunk, the model loading, a wait in the queue)
// a small step towards the next segment every PROGRESS_MAX_GAP, so that values only rise.
void Worker::tick(Job& job, Clock::time_point now) {
  if (job.finished || std::none_of(job.waiters.begin(), job.waiters.end(), wants_progress)) return;
  const auto total = static_cast<double>(job.call.units());
  // Once every segment has settled, the reply is next: progress after it would confuse clients.
  if (job.done >= total) return;
  const auto since = now - job.sent_at;
  double value;
  if (since >= PROGRESS_MIN_GAP && job.done > job.sent) {
    value = job.done;
  } else if (since >= PROGRESS_MAX_GAP) {
    value = job.sent < 0 ? job.done
                         : job.sent + (std::min(std::floor(job.sent) + 1, total) - job.sent) / 100;
  } else {
    return;
  }
  job.sent = value;
  job.sent_at = now;
  std::string message =
      !job.started ? std::string("waiting for another translation to finish")
      : job.call.is_text()
          ? std::string("translating the text")
          : fmt::format("{}/{} paragraphs", static_cast<std::size_t>(value), job.call.units());
  for (const auto& waiter : job.waiters) {
    if (!waiter.progress_token.is_null()) {
      transport_.notify("notifications/progress", {{"progressToken", waiter.progress_token},
                                                   {"progress", value},
                                                   {"total", job.call.units()},
                                                   {"message", message}});
    }
    if (!waiter.task_id.empty()) tasks_.set_message(waiter.task_id, message);
  }
}

}  // namespace quorvel
