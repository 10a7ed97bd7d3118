#pragma once
// The one thread that owns the engine. Tool calls wait here first in first out; an equal
// call already waiting or running takes in the new request instead of running twice; each
// request id or task maps to its job's stop source; progress becomes notifications, sent by
// a second thread so that they keep coming while the engine is busy inside one step.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "server/jsonrpc.h"
#include "server/tasks.h"
#include "server/tool_handler.h"
#include "server/transport.h"

namespace quorvel {

/// Calls that may wait at once behind the running one.
inline constexpr std::size_t MAX_QUEUED_CALLS = 16;

/// Progress notifications: never closer together than the first, never further apart than
/// the second while work goes on (hosts reset their time-outs on each).
inline constexpr std::chrono::milliseconds PROGRESS_MIN_GAP{2000};
inline constexpr std::chrono::milliseconds PROGRESS_MAX_GAP{10000};

/// Who waits for a call's result.
struct Waiter {
  Json id;              // the tools/call request to answer; null for a task
  Json progress_token;  // null when the client asked for no progress
  std::string task_id;  // the task that takes the result, for a task-augmented call
};

/// A tools/call result: one text item and "isError", present also when false.
Json call_result(bool is_error, std::string text);

/// Lets another thread (a signal's) stop everything and wait until no work is left.
struct Shutdown {
  std::stop_source stop;

  /// True once the work that was running when stop was requested has ended.
  bool wait_quiet(std::chrono::milliseconds timeout);
  void mark_quiet();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool quiet_ = false;  // guarded by mutex_
};

/// submit, cancel_* and finish are called by the reader thread; cancel_all by any thread.
class Worker {
 public:
  Worker(ToolHandler& handler, Transport& transport, TaskStore& tasks, Shutdown& shutdown);
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker();

  /// Queues `call` for `waiter`, or adds the waiter to an equal call (same `key`) that is
  /// queued or running. Fails, naming the bound, when MAX_QUEUED_CALLS are waiting.
  Result<void> submit(std::string key, PreparedCall call, Waiter waiter);

  /// notifications/cancelled: that request gets no reply and no more progress; a call
  /// nobody waits for any more stops within one decode step and writes nothing. Unknown and
  /// finished ids are ignored.
  void cancel_request(const Json& id);
  /// The same for a task.
  void cancel_task(const std::string& task_id);
  /// Every call stops and nothing is answered.
  void cancel_all();

  /// The end of input: runs what is queued, answers it, then ends the threads.
  void finish();

 private:
  struct Job;
  class JobProgress;

  void run_loop();
  void tick_loop();
  void execute(const std::shared_ptr<Job>& job, Generator* generator);
  void run_quick_calls(Generator& generator);
  void deliver(const std::shared_ptr<Job>& job, const Result<std::string>& result);
  void update(Job& job, double done);
  void tick(Job& job, std::chrono::steady_clock::time_point now);
  template <class Match>
  void drop_waiters(Match match);

  ToolHandler& handler_;
  Transport& transport_;
  TaskStore& tasks_;
  Shutdown& shutdown_;

  std::mutex mutex_;
  std::condition_variable work_changed_;       // queue or closing changed
  std::condition_variable ticker_wake_;        // closing changed
  std::deque<std::shared_ptr<Job>> queue_;     // guarded by mutex_
  std::vector<std::shared_ptr<Job>> running_;  // guarded by mutex_; outermost first
  bool closing_ = false;                       // guarded by mutex_
  bool ticking_ = true;                        // guarded by mutex_

  std::thread worker_;
  std::thread ticker_;
  std::optional<std::stop_callback<std::function<void()>>> on_shutdown_;
};

}  // namespace quorvel
