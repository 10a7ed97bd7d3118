#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"

namespace quorvel {

Result<PreparedCall> prepare_translate_text(const nlohmann::json& arguments) {
  const std::string* text = string_argument(arguments, "text");
  if (!text) return fail(ErrorKind::invalid_argument, "missing required argument: text");
  if (auto checked = check_text(*text); !checked) return std::unexpected(checked.error());
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  return PreparedCall{TextJob{*text, std::move(*request)}};
}

}  // namespace quorvel
