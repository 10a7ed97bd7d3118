#include "server/mcp_server.h"

#include <fmt/core.h>

#include "platform/files.h"
#include "platform/text.h"
#include "server/tasks.h"
#include "server/transport.h"

namespace quorvel {

namespace {

constexpr std::string_view DEFAULT_PROTOCOL_VERSION = "2025-06-18";

const Json* member(const Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string string_member(const Json& object, const char* key) {
  const Json* value = member(object, key);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

// params._meta.progressToken when it is a string or an integer; null otherwise.
Json progress_token(const Json& params) {
  const Json* meta = member(params, "_meta");
  const Json* token = meta ? member(*meta, "progressToken") : nullptr;
  if (token && (token->is_string() || token->is_number_integer())) return *token;
  return nullptr;
}

// Equal calls share one run: the same tool, the same arguments and, for a file, the same
// unchanged input.
std::string call_key(std::string_view name, const Json& arguments, const PreparedCall& call) {
  std::string key = fmt::format("{}\n{}", name, serialize(arguments));
  if (const auto* file = std::get_if<FileJob>(&call.job)) {
    if (std::string identity = file_identity(file->path); !identity.empty()) {
      key += "\n" + identity;
    }
  }
  return key;
}

// One client's dialogue. Lives on the reader thread; the worker and the task store are
// shared with the worker's threads.
class Session {
 public:
  Session(McpServer& server, std::ostream& out)
      : server_(server),
        transport_(out),
        tasks_(transport_),
        worker_(server.handler, transport_, tasks_, server.shutdown) {}

  void handle_line(std::string_view line);
  void refuse_long_line(std::size_t max_line) {
    transport_.error(
        nullptr,
        Error{ErrorKind::parse, fmt::format("parse error: line longer than {} bytes", max_line)});
  }
  void finish() { worker_.finish(); }

 private:
  void dispatch(const std::string& method, const Json& id, const Json& params);
  Json initialize_result(const Json& params);
  Json tools_list_result() const;
  void call_tool(const Json& id, const Json& params);
  void call_as_task(const Json& id, const Json& task, std::string_view name, const Json& arguments,
                    Result<PreparedCall> prepared, Json token);
  bool task_method(const std::string& method, const Json& id, const Json& params);

  McpServer& server_;
  Transport transport_;
  TaskStore tasks_;
  Worker worker_;
  bool tasks_enabled_ = false;  // the client announced tasks in its last initialize
};

Json Session::initialize_result(const Json& params) {
  const Json* capabilities = member(params, "capabilities");
  const Json* client_tasks = capabilities ? member(*capabilities, "tasks") : nullptr;
  tasks_enabled_ = client_tasks && client_tasks->is_object();
  const Json* version = member(params, "protocolVersion");
  Json server_capabilities = {{"tools", {{"listChanged", false}}}};
  if (tasks_enabled_) {
    server_capabilities["tasks"] = {{"cancel", Json::object()},
                                    {"list", Json::object()},
                                    {"requests", {{"tools", {{"call", Json::object()}}}}}};
  }
  return {
      {"protocolVersion",
       version && version->is_string() ? *version : Json(DEFAULT_PROTOCOL_VERSION)},
      {"capabilities", std::move(server_capabilities)},
      {"serverInfo", {{"name", server_.name}, {"version", server_.version}}},
      {"instructions", server_.instructions},
  };
}

Json Session::tools_list_result() const {
  Json tools = Json::array();
  for (const auto& tool : server_.tools) {
    Json listed = {
        {"name", tool.name}, {"description", tool.description}, {"inputSchema", tool.input_schema}};
    if (tasks_enabled_) listed["execution"] = {{"taskSupport", "optional"}};
    tools.push_back(std::move(listed));
  }
  return {{"tools", std::move(tools)}};
}

void Session::call_tool(const Json& id, const Json& params) {
  std::string name = string_member(params, "name");
  bool offered = false;
  for (const auto& tool : server_.tools) offered = offered || tool.name == name;
  if (!offered) {
    transport_.error(id, Error{ErrorKind::unknown_tool, fmt::format("unknown tool: {}", name)});
    return;
  }
  const Json* given = member(params, "arguments");
  const Json arguments = given ? *given : Json::object();
  Result<PreparedCall> prepared;
  try {
    prepared = server_.handler.prepare(name, arguments);
  } catch (const std::exception& e) {
    // Last resort: a tool failure must never take the server down.
    prepared = fail(ErrorKind::io, fmt::format("internal error: {}", e.what()));
  }
  const Json* task = tasks_enabled_ ? member(params, "task") : nullptr;
  if (task && task->is_object()) {
    call_as_task(id, *task, name, arguments, std::move(prepared), progress_token(params));
    return;
  }
  if (!prepared) {
    transport_.result(id, call_result(true, prepared.error().message));
    return;
  }
  std::string key = call_key(name, arguments, *prepared);
  auto queued =
      worker_.submit(std::move(key), std::move(*prepared), {id, progress_token(params), {}});
  if (!queued) transport_.result(id, call_result(true, queued.error().message));
}

// Answered at once with the task; a call that fails its checks makes a task that has
// already failed, whose result holds the message.
void Session::call_as_task(const Json& id, const Json& task, std::string_view name,
                           const Json& arguments, Result<PreparedCall> prepared, Json token) {
  const Json* ttl = member(task, "ttl");
  std::optional<int64_t> ttl_ms;
  if (ttl && ttl->is_number()) ttl_ms = static_cast<int64_t>(ttl->get<double>());
  std::string task_id = tasks_.create(ttl_ms);
  Result<void> queued;
  if (prepared) {
    std::string key = call_key(name, arguments, *prepared);
    queued =
        worker_.submit(std::move(key), std::move(*prepared), {nullptr, std::move(token), task_id});
  } else {
    queued = std::unexpected(prepared.error());
  }
  if (!queued) tasks_.finish(task_id, call_result(true, queued.error().message), true);
  auto described = tasks_.describe(task_id);
  transport_.result(id, {{"task", described ? *described : Json::object()}});
}

bool Session::task_method(const std::string& method, const Json& id, const Json& params) {
  if (!tasks_enabled_ || !method.starts_with("tasks/")) return false;
  const std::string task_id = string_member(params, "taskId");
  auto reply = [&](Result<Json> result) {
    if (result) {
      transport_.result(id, std::move(*result));
    } else {
      transport_.error(id, result.error());
    }
  };
  if (method == "tasks/get") {
    reply(tasks_.describe(task_id));
  } else if (method == "tasks/result") {
    tasks_.result(id, task_id);
  } else if (method == "tasks/list") {
    transport_.result(id, tasks_.list());
  } else if (method == "tasks/cancel") {
    auto cancelled = tasks_.cancel(task_id);
    if (cancelled) worker_.cancel_task(task_id);
    reply(std::move(cancelled));
  } else {
    return false;
  }
  return true;
}

void Session::dispatch(const std::string& method, const Json& id, const Json& params) {
  if (method == "initialize") {
    transport_.result(id, initialize_result(params));
  } else if (method == "ping") {
    transport_.result(id, Json::object());
  } else if (method == "tools/list") {
    transport_.result(id, tools_list_result());
  } else if (method == "tools/call") {
    call_tool(id, params);
  } else if (method == "prompts/list") {
    transport_.result(id, {{"prompts", Json::array()}});
  } else if (method == "resources/list") {
    transport_.result(id, {{"resources", Json::array()}});
  } else if (!task_method(method, id, params)) {
    transport_.error(
        id, Error{ErrorKind::method_not_found, fmt::format("method not found: {}", method)});
  }
}

void Session::handle_line(std::string_view line) {
  if (is_blank(line)) return;
  auto message = parse_message(line);
  if (!message) {
    transport_.error(nullptr, message.error());
    return;
  }
  if (!message->is_object() || message->empty()) return;
  std::string method = string_member(*message, "method");
  const Json* found = member(*message, "params");
  const Json none;
  const Json& params = found ? *found : none;
  const Json* id = member(*message, "id");
  if (!id || id->is_null()) {
    // A notification is never answered; a cancellation stops the call it names.
    const Json* request_id = member(params, "requestId");
    if (method == "notifications/cancelled" && request_id) worker_.cancel_request(*request_id);
    return;
  }
  dispatch(method, *id, params);
}

}  // namespace

void run_server(McpServer& server, std::istream& in, std::ostream& out, std::size_t max_line) {
  Session session(server, out);
  LineReader reader(in, max_line);
  while (auto line = reader.next()) {
    if (line->too_long) {
      session.refuse_long_line(max_line);
      continue;
    }
    if (!is_valid_utf8(line->text)) break;
    session.handle_line(line->text);
  }
  session.finish();
}

}  // namespace quorvel
