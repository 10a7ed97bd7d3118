#include "platform/text.h"
#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"
#include "translation/pipeline.h"

namespace quorvel {

namespace {
constexpr std::size_t MAX_TEXT_CHARS = 12000;
}  // namespace

Result<std::string> handle_translate_text(ToolHandler& handler, const nlohmann::json& arguments) {
  const std::string* text = string_argument(arguments, "text");
  if (!text) return fail(ErrorKind::invalid_argument, "missing required argument: text");
  if (trim(*text).empty()) return fail(ErrorKind::invalid_argument, "text is empty");
  if (count_chars(*text) > MAX_TEXT_CHARS) {
    return fail(ErrorKind::invalid_argument,
                "text too long for translate_text; write it to a file and use translate_file");
  }
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  auto context = handler.obtain_context();
  if (!context) return std::unexpected(context.error());
  auto translation = translate_one(**context, *request, *text);
  if (!translation) {
    return fail(ErrorKind::engine, "could not produce a reliable translation for that text");
  }
  return std::move(*translation);
}

}  // namespace quorvel
