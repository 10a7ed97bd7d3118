#pragma once
// Each tool's arguments worded into a prepared job: every check that needs no engine, in
// the order clients see their errors.

#include <nlohmann/json.hpp>

#include "platform/error.h"
#include "server/tool_handler.h"
#include "translation/jobs.h"

namespace quorvel {

Result<PreparedCall> prepare_translate_text(const nlohmann::json& arguments);
Result<PreparedCall> prepare_translate_file(const nlohmann::json& arguments);

}  // namespace quorvel
