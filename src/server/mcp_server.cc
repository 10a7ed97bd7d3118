#include "server/mcp_server.h"

#include <fmt/core.h>

#include "platform/text.h"

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

Json initialize_result(const McpServer& server, const Json& params) {
  const Json* version = member(params, "protocolVersion");
  return {
      {"protocolVersion", version && version->is_string() ? *version : Json(DEFAULT_PROTOCOL_VERSION)},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", server.name}, {"version", server.version}}},
      {"instructions", server.instructions},
  };
}

Json tools_list_result(const McpServer& server) {
  Json tools = Json::array();
  for (const auto& tool : server.tools) {
    tools.push_back(
        {{"name", tool.name}, {"description", tool.description}, {"inputSchema", tool.input_schema}});
  }
  return {{"tools", std::move(tools)}};
}

void call_tool(McpServer& server, const Json& id, const Json& params, std::ostream& out) {
  std::string name = string_member(params, "name");
  bool offered = false;
  for (const auto& tool : server.tools) offered = offered || tool.name == name;
  if (!offered) {
    write_error(out, id, Error{ErrorKind::unknown_tool, fmt::format("unknown tool: {}", name)});
    return;
  }
  const Json* arguments = member(params, "arguments");
  ToolResult result;
  try {
    result = server.handler.call(name, arguments ? *arguments : Json::object());
  } catch (const std::exception& e) {
    // Last resort: a tool failure must never take the server down.
    result = {true, fmt::format("internal error: {}", e.what())};
  }
  Json content = Json::array({{{"type", "text"}, {"text", std::move(result.text)}}});
  write_result(out, id, {{"content", std::move(content)}, {"isError", result.is_error}});
}

}  // namespace

void handle_line(McpServer& server, std::string_view line, std::ostream& out) {
  if (is_blank(line)) return;
  auto message = parse_message(line);
  if (!message) {
    write_error(out, nullptr, message.error());
    return;
  }
  if (!message->is_object() || message->empty()) return;
  std::string method = string_member(*message, "method");
  const Json* id = member(*message, "id");
  if (!id || id->is_null()) return;  // a notification: never answered
  const Json* found = member(*message, "params");
  const Json none;
  const Json& params = found ? *found : none;

  if (method == "initialize") {
    write_result(out, *id, initialize_result(server, params));
  } else if (method == "ping") {
    write_result(out, *id, Json::object());
  } else if (method == "tools/list") {
    write_result(out, *id, tools_list_result(server));
  } else if (method == "tools/call") {
    call_tool(server, *id, params, out);
  } else if (method == "prompts/list") {
    write_result(out, *id, {{"prompts", Json::array()}});
  } else if (method == "resources/list") {
    write_result(out, *id, {{"resources", Json::array()}});
  } else {
    write_error(out, *id, Error{ErrorKind::method_not_found, fmt::format("method not found: {}", method)});
  }
}

void run_server(McpServer& server, std::istream& in, std::ostream& out, std::size_t max_line) {
  LineReader reader(in, max_line);
  while (auto line = reader.next()) {
    if (line->too_long) {
      write_error(out, nullptr,
                  Error{ErrorKind::parse, fmt::format("parse error: line longer than {} bytes", max_line)});
      continue;
    }
    if (!is_valid_utf8(line->text)) return;
    handle_line(server, line->text, out);
  }
}

}  // namespace quorvel
