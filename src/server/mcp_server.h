#pragma once
// The server loop: reads one JSON-RPC message per line, answers the methods it knows and
// hands tool calls to the tool handler. It knows nothing about translation.

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "server/jsonrpc.h"
#include "server/tool_handler.h"

namespace quorvel {

struct ToolDefinition {
  std::string name;
  std::string description;
  Json input_schema;
};

struct McpServer {
  std::vector<ToolDefinition> tools;
  std::string name;
  std::string version;
  std::string instructions;
  ToolHandler handler;
};

/// Runs until the input ends, a read fails, or a line is not valid UTF-8.
void run_server(McpServer& server, std::istream& in, std::ostream& out,
                std::size_t max_line = MAX_LINE_BYTES);

/// Handles one line (without its line end), writing at most one reply.
void handle_line(McpServer& server, std::string_view line, std::ostream& out);

}  // namespace quorvel
