#include "server/handlers/arguments.h"
#include "server/handlers/handlers.h"

namespace quorvel {

Result<PreparedCall> prepare_translate_file(const nlohmann::json& arguments) {
  const std::string* path = string_argument(arguments, "path");
  if (!path) return fail(ErrorKind::invalid_argument, "missing required argument: path");
  if (auto found = check_input_file(*path); !found) return std::unexpected(found.error());
  auto request = validate_target(arguments);
  if (!request) return std::unexpected(request.error());
  // A null or non-string output_path means the default.
  const std::string* output = string_argument(arguments, "output_path");
  auto job = prepare_file_job(*path, std::move(*request),
                              output ? std::optional<std::string>(*output) : std::nullopt);
  if (!job) return std::unexpected(job.error());
  return PreparedCall{std::move(*job)};
}

}  // namespace quorvel
