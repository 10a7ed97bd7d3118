#include "server/tool_handler.h"

#include <fmt/core.h>

#include "server/handlers/handlers.h"
#include "translation/languages.h"

namespace quorvel {

ToolResult ToolHandler::call(std::string_view name, const nlohmann::json& arguments) {
  auto result = name == "translate_text" ? handle_translate_text(*this, arguments)
                                         : handle_translate_file(*this, arguments);
  if (!result) return {true, result.error().message};
  return {false, std::move(*result)};
}

Result<std::unique_ptr<EngineContext>> ToolHandler::obtain_context() {
  auto engine = ensure_engine(engine_slot);
  if (!engine) return std::unexpected(engine.error());
  return create_context(**engine);
}

Result<TranslationRequest> validate_target(const nlohmann::json& arguments) {
  auto to = arguments.is_object() ? arguments.find("to") : arguments.end();
  if (!arguments.is_object() || to == arguments.end() || !to->is_string()) {
    return fail(ErrorKind::invalid_argument, "missing required argument: to");
  }
  const auto& tag = to->get_ref<const std::string&>();
  if (!is_target_tag(tag)) {
    return fail(ErrorKind::invalid_argument,
                fmt::format("unknown language tag: {}. Use one of: {}", tag, target_tag_list()));
  }
  return TranslationRequest{tag, std::nullopt};
}

}  // namespace quorvel
