#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/error.h"
#include "server/tool_handler.h"

namespace quorvel {

/// Each returns the result text, or the error whose message the client sees.
Result<std::string> handle_translate_text(ToolHandler& handler, const nlohmann::json& arguments);
Result<std::string> handle_translate_file(ToolHandler& handler, const nlohmann::json& arguments);

/// The input path with "<target>." put before its last extension.
std::string default_output_path(const std::string& path, const std::string& target);

/// The extension of the final path component, ASCII lower-cased; empty when there is none.
std::string file_extension(const std::string& path);

}  // namespace quorvel
