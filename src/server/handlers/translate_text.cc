#include "platform/text.h"
#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"

namespace quorvel {

namespace {
constexpr std::size_t MAX_TEXT_CHARS = 12000;
}  // namespace

Result<std::string> handle_translate_text(ToolHandler& handler, const nlohmann::json& arguments) {
  (void)handler;
  const std::string* text = string_argument(arguments, "text");
  if (!text) return fail(ErrorKind::invalid_argument, "missing required argument: text");
  if (trim(*text).empty()) return fail(ErrorKind::invalid_argument, "text is empty");
  if (count_chars(*text) > MAX_TEXT_CHARS) {
    return fail(ErrorKind::invalid_argument,
                "text too long for translate_text; write it to a file and use translate_file");
  }
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  // The inference engine is not part of this build yet.
  return fail(ErrorKind::not_found,
              "no translation engine found. Reinstalling Quorvel Translate fixes this.");
}

}  // namespace quorvel
