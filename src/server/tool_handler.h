#pragma once
// Carries out the offered tools. The engine slot is the only state kept between calls.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "engine/discovery.h"
#include "engine/model.h"
#include "platform/error.h"
#include "translation/request.h"

namespace quorvel {

struct ToolResult {
  bool is_error = false;
  std::string text;  // the result text, or the error message
};

class ToolHandler {
 public:
  /// Runs the named tool; every failure comes back as a result with is_error set.
  ToolResult call(std::string_view name, const nlohmann::json& arguments);

  /// The engine, loaded on the first call that needs it, then a fresh context for this
  /// call. Tools call it only once all their own checks have passed.
  Result<std::unique_ptr<EngineContext>> obtain_context();

  EngineSlot engine_slot;
};

/// The request for the "to" argument shared by both tools.
Result<TranslationRequest> validate_target(const nlohmann::json& arguments);

}  // namespace quorvel
