#pragma once
// Tasks of a client that asked for them: a tool call answered at once with a task, whose
// status the client polls and whose result it fetches later. Statuses go working, then
// completed, failed (a tool error) or cancelled, and never change again.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/jsonrpc.h"
#include "server/transport.h"

namespace quorvel {

/// How long a task is kept when the client names no time, and at most.
inline constexpr int64_t DEFAULT_TASK_TTL_MS = 60 * 60 * 1000;
inline constexpr int64_t MAX_TASK_TTL_MS = 24 * 60 * 60 * 1000;
/// How often a client is asked to poll.
inline constexpr int64_t TASK_POLL_INTERVAL_MS = 1000;
/// Ended tasks beyond this many are forgotten, oldest first.
inline constexpr std::size_t MAX_ENDED_TASKS = 1000;

/// Any thread may call it; it answers held tasks/result requests through the transport.
class TaskStore {
 public:
  explicit TaskStore(Transport& transport) : transport_(transport) {}

  /// A new working task kept `ttl_ms` (or the default) after it was created; returns its id.
  std::string create(std::optional<int64_t> ttl_ms);

  /// The task as the protocol describes it ("taskId", "status", "createdAt", ...).
  Result<Json> describe(const std::string& id);
  Json list();

  /// The call's result: completed, or failed when it is a tool error. Answers every held
  /// tasks/result. Ignored once the task has ended (a cancelled task stays cancelled).
  void finish(const std::string& id, const Json& call_result, bool is_error);

  /// tasks/cancel: a working task becomes cancelled; an ended one is an error.
  Result<Json> cancel(const std::string& id);

  /// tasks/result: answered now when the task has ended, else as soon as it does.
  void result(const Json& request_id, const std::string& id);

  /// The progress text shown as the task's statusMessage.
  void set_message(const std::string& id, std::string message);

 private:
  using Clock = std::chrono::system_clock;

  struct Task {
    std::string status = "working";
    Clock::time_point created_at;
    Clock::time_point updated_at;
    int64_t ttl_ms = DEFAULT_TASK_TTL_MS;
    std::string message;
    Json result;                   // the call's result once completed or failed
    std::vector<Json> result_ids;  // tasks/result requests waiting for the end
  };

  static Json describe(const std::string& id, const Task& task);
  void answer(const Json& request_id, const std::string& id, const Task& task);
  void end(const std::string& id, Task& task, std::string status);
  void forget_expired();

  std::mutex mutex_;
  std::map<std::string, Task> tasks_;  // guarded by mutex_
  std::vector<std::string> order_;     // guarded by mutex_; ids in order of creation
  Transport& transport_;
};

}  // namespace quorvel
