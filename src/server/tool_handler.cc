#include "server/tool_handler.h"

#include "server/handlers/handlers.h"

namespace quorvel {

std::size_t PreparedCall::units() const {
  if (const auto* file = std::get_if<FileJob>(&job)) {
    return document_segments(file->document).size();
  }
  return 1;
}

Result<PreparedCall> ToolHandler::prepare(std::string_view name, const nlohmann::json& arguments) {
  return name == "translate_text" ? prepare_translate_text(arguments)
                                  : prepare_translate_file(arguments);
}

Result<std::string> ToolHandler::run(const PreparedCall& call, Progress& progress) {
  auto generator = generator_source ? generator_source()
                   : remote         ? remote->open_call()
                                    : backend.open_call();
  if (!generator) return std::unexpected(generator.error());
  return run_prepared(call, **generator, progress);
}

ToolResult ToolHandler::call(std::string_view name, const nlohmann::json& arguments) {
  auto prepared = prepare(name, arguments);
  if (!prepared) return {true, prepared.error().message};
  SilentProgress progress;
  auto result = run(*prepared, progress);
  if (!result) return {true, result.error().message};
  return {false, std::move(*result)};
}

Result<std::string> run_prepared(const PreparedCall& call, Generator& generator,
                                 Progress& progress) {
  if (const auto* file = std::get_if<FileJob>(&call.job)) {
    return run_file_job(*file, generator, progress);
  }
  return run_text_job(std::get<TextJob>(call.job), generator, progress);
}

Result<TranslationRequest> validate_target(const nlohmann::json& arguments) {
  auto to = arguments.is_object() ? arguments.find("to") : arguments.end();
  if (!arguments.is_object() || to == arguments.end() || !to->is_string()) {
    return fail(ErrorKind::invalid_argument, "missing required argument: to");
  }
  const auto& tag = to->get_ref<const std::string&>();
  if (auto known = check_target_tag(tag); !known) return std::unexpected(known.error());
  return TranslationRequest{tag, std::nullopt};
}

}  // namespace quorvel
