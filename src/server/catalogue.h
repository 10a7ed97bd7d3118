#pragma once
// What a client sees before calling a tool: the tool definitions and the server identity.

#include "server/mcp_server.h"

namespace quorvel {

std::vector<ToolDefinition> tool_definitions();
/// The record the loop serves, with an empty engine slot: nothing is loaded at start.
McpServer make_server();

}  // namespace quorvel
