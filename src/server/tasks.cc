#include "server/tasks.h"

#include <fmt/chrono.h>
#include <fmt/core.h>

#include <algorithm>
#include <random>

namespace quorvel {

namespace {

constexpr const char* RELATED_TASK = "io.modelcontextprotocol/related-task";

// 128 random bits: a task id is all a client needs to read or cancel a task.
std::string new_task_id() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) id += fmt::format("{:08x}", static_cast<uint32_t>(random()));
  return id;
}

std::string iso8601(std::chrono::system_clock::time_point when) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
  std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::seconds>(ms)));
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}.{:03}Z", fmt::gmtime(seconds), ms.count() % 1000);
}

Error not_found(const std::string& id) {
  return Error{ErrorKind::invalid_params, fmt::format("task not found: {}", id), {}};
}

bool ended(const std::string& status) {
  return status != "working";
}

}  // namespace

std::string TaskStore::create(std::optional<int64_t> ttl_ms) {
  std::lock_guard lock(mutex_);
  forget_expired();
  std::string id = new_task_id();
  Task task;
  task.created_at = task.updated_at = Clock::now();
  if (ttl_ms) task.ttl_ms = std::clamp<int64_t>(*ttl_ms, 0, MAX_TASK_TTL_MS);
  tasks_.emplace(id, std::move(task));
  order_.push_back(id);
  return id;
}

Json TaskStore::describe(const std::string& id, const Task& task) {
  Json out = {{"taskId", id},
              {"status", task.status},
              {"createdAt", iso8601(task.created_at)},
              {"lastUpdatedAt", iso8601(task.updated_at)},
              {"ttl", task.ttl_ms},
              {"pollInterval", TASK_POLL_INTERVAL_MS}};
  if (!task.message.empty()) out["statusMessage"] = task.message;
  return out;
}

Result<Json> TaskStore::describe(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return std::unexpected(not_found(id));
  return describe(id, it->second);
}

Json TaskStore::list() {
  std::lock_guard lock(mutex_);
  forget_expired();
  Json tasks = Json::array();
  for (const auto& id : order_) tasks.push_back(describe(id, tasks_.at(id)));
  return {{"tasks", std::move(tasks)}};
}

void TaskStore::answer(const Json& request_id, const std::string& id, const Task& task) {
  if (task.status == "cancelled") {
    transport_.error(
        request_id, Error{ErrorKind::invalid_params, fmt::format("task {} was cancelled", id), {}});
    return;
  }
  Json result = task.result;
  result["_meta"][RELATED_TASK] = {{"taskId", id}};
  transport_.result(request_id, std::move(result));
}

void TaskStore::end(const std::string& id, Task& task, std::string status) {
  task.status = std::move(status);
  task.updated_at = Clock::now();
  for (const auto& request_id : task.result_ids) answer(request_id, id, task);
  task.result_ids.clear();
}

void TaskStore::finish(const std::string& id, const Json& call_result, bool is_error) {
  std::lock_guard lock(mutex_);
  auto it = tasks_.find(id);
  if (it == tasks_.end() || ended(it->second.status)) return;
  it->second.result = call_result;
  end(id, it->second, is_error ? "failed" : "completed");
}

Result<Json> TaskStore::cancel(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return std::unexpected(not_found(id));
  if (ended(it->second.status)) {
    return std::unexpected(Error{ErrorKind::invalid_params,
                                 fmt::format("task {} is already {}", id, it->second.status),
                                 {}});
  }
  end(id, it->second, "cancelled");
  return describe(id, it->second);
}

void TaskStore::result(const Json& request_id, const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = tasks_.find(id);
  if (it == tasks_.end()) {
    transport_.error(request_id, not_found(id));
  } else if (ended(it->second.status)) {
    answer(request_id, id, it->second);
  } else {
    it->second.result_ids.push_back(request_id);
  }
}

void TaskStore::set_message(const std::string& id, std::string message) {
  std::lock_guard lock(mutex_);
  auto it = tasks_.find(id);
  if (it == tasks_.end() || ended(it->second.status) || it->second.message == message) return;
  it->second.message = std::move(message);
  it->second.updated_at = Clock::now();
}

// Ended tasks go once their time is up, counted from creation but never sooner than a
// minute after they ended, so that a result is not lost the moment it is ready; beyond
// MAX_ENDED_TASKS the oldest ended ones go too.
void TaskStore::forget_expired() {
  const auto now = Clock::now();
  std::size_t ended_count = 0;
  for (const auto& id : order_) ended_count += ended(tasks_.at(id).status) ? 1 : 0;
  std::erase_if(order_, [&](const std::string& id) {
    const Task& task = tasks_.at(id);
    if (!ended(task.status)) return false;
    auto expires = std::max(task.created_at + std::chrono::milliseconds(task.ttl_ms),
                            task.updated_at + std::chrono::minutes(1));
    if (now < expires && ended_count <= MAX_ENDED_TASKS) return false;
    --ended_count;
    tasks_.erase(id);
    return true;
  });
}

}  // namespace quorvel
