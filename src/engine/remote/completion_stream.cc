#include "engine/remote/completion_stream.h"

#include <fmt/core.h>

#include <utility>

#include "platform/text.h"

namespace quorvel {

namespace {

using Json = nlohmann::json;

std::optional<uint64_t> count_of(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer() || it->get<int64_t>() < 0) return std::nullopt;
  return it->get<uint64_t>();
}

// The message and code of an error object as llama-server and OpenAI-compatible servers
// write it: {"error": {"message": ..., "code": ...}}, {"error": "..."} or {"message": ...}.
StreamFault server_error(const Json& error) {
  StreamFault fault{"the server reported an error", 0};
  if (error.is_string()) {
    fault.message = error.get<std::string>();
  } else if (error.is_object()) {
    if (auto message = error.find("message"); message != error.end() && message->is_string()) {
      fault.message = message->get<std::string>();
    }
    if (auto code = error.find("code"); code != error.end() && code->is_number_integer()) {
      fault.code = code->get<int>();
    }
  }
  fault.message = replace_invalid_utf8(fault.message.substr(0, 500));
  return fault;
}

}  // namespace

std::expected<void, StreamFault> CompletionStream::fault(std::string message, int code) {
  fault_ = StreamFault{std::move(message), code};
  pending_.clear();
  data_.clear();
  return std::unexpected(*fault_);
}

bool CompletionStream::take_news() {
  return std::exchange(news_, false);
}

std::expected<void, StreamFault> CompletionStream::feed(std::string_view bytes) {
  if (fault_) return std::unexpected(*fault_);
  if (shape_ == Shape::unknown) {
    const std::string_view start = trim_start(bytes);
    // White space alone does not tell the shape; it belongs to what follows (blank lines, or
    // the start of the first line), so it is kept, whatever the pieces the bytes came in.
    if (start.empty()) {
      if (leading_.size() + bytes.size() > MAX_EVENT_BYTES) {
        return fault(fmt::format("response line longer than {} bytes", MAX_EVENT_BYTES));
      }
      leading_.append(bytes);
      return {};
    }
    shape_ = start.front() == '{' ? Shape::document : Shape::events;
    if (!leading_.empty()) {
      const std::string held = std::exchange(leading_, std::string());
      if (auto read = feed_shaped(held); !read) return read;
    }
  }
  return feed_shaped(bytes);
}

std::expected<void, StreamFault> CompletionStream::feed_shaped(std::string_view bytes) {
  if (shape_ == Shape::document) {
    if (pending_.size() + bytes.size() > MAX_EVENT_BYTES) {
      return fault(fmt::format("response larger than {} bytes", MAX_EVENT_BYTES));
    }
    pending_.append(bytes);
    return {};
  }
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view part = bytes.substr(0, end);
    if (pending_.size() + part.size() > MAX_EVENT_BYTES) {
      return fault(fmt::format("response line longer than {} bytes", MAX_EVENT_BYTES));
    }
    if (end == std::string_view::npos) {
      pending_.append(part);
      return {};
    }
    bytes.remove_prefix(end + 1);
    std::string text = std::move(pending_);
    pending_.clear();
    text.append(part);
    if (auto read = line(text); !read) return read;
  }
  return {};
}

// One line of the event stream: fields gather until a blank line dispatches the event.
std::expected<void, StreamFault> CompletionStream::line(std::string_view text) {
  if (text.ends_with('\r')) text.remove_suffix(1);
  if (text.empty()) {
    if (data_.empty()) return {};
    std::string data = std::move(data_);
    data_.clear();
    return event(data);
  }
  if (text.front() == ':') return {};  // a comment: the server's keep-alive ping
  const std::size_t colon = text.find(':');
  const std::string_view field = text.substr(0, colon);
  if (field != "data" && field != "error") return {};  // event names, ids: nothing to us
  std::string_view value = colon == std::string_view::npos ? "" : text.substr(colon + 1);
  if (value.starts_with(' ')) value.remove_prefix(1);
  if (data_.size() + value.size() + 1 > MAX_EVENT_BYTES) {
    return fault(fmt::format("response event longer than {} bytes", MAX_EVENT_BYTES));
  }
  if (!data_.empty()) data_ += '\n';
  data_.append(value);
  return {};
}

std::expected<void, StreamFault> CompletionStream::event(std::string_view data) {
  if (trim(data) == "[DONE]") {
    if (!finished_) return fault("the stream ended before the answer was complete");
    return {};
  }
  Json object = Json::parse(data, nullptr, false);
  if (object.is_discarded() || !object.is_object()) {
    return fault("the server sent something that is not a JSON object");
  }
  if (auto error = object.find("error"); error != object.end() && !error->is_null()) {
    StreamFault reported = server_error(*error);
    return fault(std::move(reported.message), reported.code);
  }
  // After the final event only a closing [DONE] or pings may come; the answer is complete.
  if (finished_) return {};
  return api_ == RemoteApi::native ? native(object) : openai(object);
}

std::expected<void, StreamFault> CompletionStream::native(const Json& object) {
  if (auto content = object.find("content"); content != object.end()) {
    if (!content->is_string()) return fault("the server sent a content that is not text");
    if (auto added = append(content->get_ref<const std::string&>()); !added) return added;
  } else if (object.find("prompt_progress") == object.end()) {
    return fault("the server sent an event without content");
  }
  if (auto progress = object.find("prompt_progress");
      progress != object.end() && progress->is_object()) {
    auto total = count_of(*progress, "total");
    auto processed = count_of(*progress, "processed");
    if (total) progress_.prompt_tokens = total;
    if (processed && *processed != progress_.prompt_done) {
      progress_.prompt_done = *processed;
      news_ = true;
    }
  }
  if (auto evaluated = count_of(object, "tokens_evaluated"); evaluated && *evaluated > 0) {
    progress_.prompt_tokens = evaluated;
  }
  if (auto predicted = count_of(object, "tokens_predicted");
      predicted && *predicted != progress_.generated) {
    progress_.generated = *predicted;
    news_ = true;
  }
  if (auto stop = object.find("stop"); stop != object.end() && stop->is_boolean()) {
    finished_ = stop->get<bool>();
  }
  return {};
}

std::expected<void, StreamFault> CompletionStream::openai(const Json& object) {
  auto choices = object.find("choices");
  if (choices == object.end() || !choices->is_array()) {
    // A last event may carry only the usage.
    if (object.contains("usage")) return {};
    return fault("the server sent an event without choices");
  }
  if (choices->empty()) return {};
  const Json& choice = choices->front();
  if (!choice.is_object()) return fault("the server sent a choice that is not an object");
  if (auto text = choice.find("text"); text != choice.end() && !text->is_null()) {
    if (!text->is_string()) return fault("the server sent a text that is not text");
    if (!text->get_ref<const std::string&>().empty()) ++progress_.generated;
    if (auto added = append(text->get_ref<const std::string&>()); !added) return added;
  }
  if (auto reason = choice.find("finish_reason"); reason != choice.end() && !reason->is_null()) {
    finished_ = true;
  }
  return {};
}

std::expected<void, StreamFault> CompletionStream::append(std::string_view piece) {
  if (answer_.size() + piece.size() > MAX_ANSWER_BYTES) {
    return fault(fmt::format("answer longer than {} bytes", MAX_ANSWER_BYTES));
  }
  if (!piece.empty()) news_ = true;
  answer_.append(piece);
  return {};
}

std::expected<std::string, StreamFault> CompletionStream::finish() {
  if (fault_) return std::unexpected(*fault_);
  if (shape_ == Shape::document) {
    std::string body = std::move(pending_);
    pending_.clear();
    Json object = Json::parse(body, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
      fault("the server sent something that is not a JSON object");
      return std::unexpected(*fault_);
    }
    if (auto error = object.find("error"); error != object.end() && !error->is_null()) {
      fault_ = server_error(*error);
      return std::unexpected(*fault_);
    }
    auto read = api_ == RemoteApi::native ? native(object) : openai(object);
    if (!read) return std::unexpected(read.error());
    // A whole document is the whole answer, whether or not it says so.
    finished_ = true;
  } else if (!pending_.empty() || !data_.empty()) {
    // An event without its closing blank line: take it if it is whole.
    if (!pending_.empty()) {
      std::string last = std::move(pending_);
      pending_.clear();
      if (auto read = line(last); !read) return std::unexpected(read.error());
    }
    if (auto read = line(""); !read) return std::unexpected(read.error());
  }
  if (!finished_) {
    fault("the stream ended before the answer was complete");
    return std::unexpected(*fault_);
  }
  return std::move(answer_);
}

}  // namespace quorvel
