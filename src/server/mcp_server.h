#pragma once
// The server loop: reads one JSON-RPC message per line on the calling thread and answers at
// once everything that needs no engine; tool calls that reach the engine go to the worker,
// whose replies and progress share one locked writer. It knows nothing about translation.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "server/jsonrpc.h"
#include "server/tool_handler.h"
#include "server/worker.h"

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
  /// Requested by a signal: every call stops, nothing more is answered.
  Shutdown shutdown;
};

/// Runs until the input ends, a read fails, or a line is not valid UTF-8; then finishes the
/// calls still queued or running, writes their replies and returns.
void run_server(McpServer& server, std::istream& in, std::ostream& out,
                std::size_t max_line = MAX_LINE_BYTES);

}  // namespace quorvel
