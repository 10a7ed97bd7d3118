#include "engine/remote/remote_api.h"

#include <fmt/core.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace quorvel {

namespace {

using Json = nlohmann::json;

constexpr std::size_t MAX_MESSAGE_BYTES = 500;

std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string bounded(std::string_view text) {
  std::string cut(trim(text.substr(0, MAX_MESSAGE_BYTES)));
  return replace_invalid_utf8(cut);
}

}  // namespace

std::string completion_url(const ServerAddress& server) {
  return server.base + (server.api == RemoteApi::native ? "/completion" : "/completions");
}

std::string completion_body(const ServerAddress& server, std::string_view model,
                            std::string_view prompt, uint32_t max_new_tokens,
                            const SamplingParams& params) {
  Json body = {
      {"prompt", std::string(prompt)}, {"temperature", std::max(0.0f, params.temperature)},
      {"top_k", params.top_k},         {"top_p", params.top_p},
      {"seed", params.seed},           {"stream", true},
  };
  if (server.api == RemoteApi::native) {
    body["n_predict"] = max_new_tokens;
    body["cache_prompt"] = true;
    body["return_progress"] = true;
    body["samplers"] = Json::array({"top_k", "top_p", "temperature"});
  } else {
    body["model"] = std::string(model);
    body["max_tokens"] = max_new_tokens;
  }
  return dump(body);
}

std::string description_url(const ServerAddress& server) {
  return server.base + (server.api == RemoteApi::native ? "/props" : "/models");
}

Result<ServerDescription> read_description(const ServerAddress& server, std::string_view body) {
  Json json = Json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    return fail(ErrorKind::engine, "its description is not a JSON object");
  }
  ServerDescription description;
  auto text = [](const Json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  if (server.api == RemoteApi::native) {
    auto slots = json.find("total_slots");
    if (slots == json.end() || !slots->is_number_integer() || slots->get<int64_t>() < 1) {
      return fail(ErrorKind::engine, "its /props names no slot count (is it llama-server?)");
    }
    description.slots = static_cast<int>(std::min<int64_t>(slots->get<int64_t>(), MAX_SLOTS));
    description.model = text(json, "model_alias");
    if (description.model.empty()) description.model = text(json, "model_path");
  } else {
    auto data = json.find("data");
    if (data == json.end() || !data->is_array() || data->empty() || !data->front().is_object()) {
      return fail(ErrorKind::engine, "its /models lists no model");
    }
    description.model = text(data->front(), "id");
    if (description.model.empty()) return fail(ErrorKind::engine, "its /models names no model");
  }
  description.model = bounded(description.model);
  return description;
}

std::string http_error_message(long status, std::string_view body) {
  std::string message;
  Json json = Json::parse(body, nullptr, false);
  if (!json.is_discarded() && json.is_object()) {
    const Json* error = &json;
    if (auto inner = json.find("error"); inner != json.end()) error = &*inner;
    if (error->is_string()) {
      message = error->get<std::string>();
    } else if (error->is_object()) {
      auto it = error->find("message");
      if (it != error->end() && it->is_string()) message = it->get<std::string>();
    }
  } else if (is_valid_utf8(body) && body.find('<') == std::string_view::npos) {
    message = std::string(body);  // a plain-text reply; markup pages say nothing useful
  }
  message = bounded(message);
  return message.empty() ? fmt::format("HTTP {}", status)
                         : fmt::format("HTTP {}: {}", status, message);
}

bool blames_request(long status) {
  return status >= 400 && status < 500 && status != 401 && status != 403 && status != 404 &&
         status != 408 && status != 429;
}

bool is_expected_family(std::string_view model) {
  return ascii_lower(std::string(model)).find("gemma") != std::string::npos;
}

}  // namespace quorvel
