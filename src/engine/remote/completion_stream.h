#pragma once
// Reads the body of one completion response, as it arrives, into the answer text and the
// server's progress. Takes a server-sent event stream (llama-server's /completion or an
// OpenAI-compatible /v1/completions) or, from a server that ignored "stream", one JSON
// document. Whatever the bytes are, memory stays within the limits below and every fault is
// an error value.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "engine/remote/settings.h"
#include "platform/error.h"

namespace quorvel {

/// One event or JSON body at most: a line of llama-server's is a few hundred bytes.
inline constexpr std::size_t MAX_EVENT_BYTES = 1u << 20;
/// The answer text at most; a translation budget never comes near it.
inline constexpr std::size_t MAX_ANSWER_BYTES = 4u << 20;

/// What the server said about its work so far (llama-server tells both; an OpenAI-compatible
/// stream only the pieces, each counted as one token).
struct StreamProgress {
  std::optional<uint64_t> prompt_tokens;  // the prompt's length, once known
  uint64_t prompt_done = 0;               // prompt tokens in the server's cache, reused or read
  uint64_t generated = 0;                 // tokens generated so far
};

/// Why a body is not an answer: the server reported an error inside it (with its HTTP-like
/// code where it gave one), or the bytes broke the API's promises.
struct StreamFault {
  std::string message;
  int code = 0;  // the code the server put in its error object, else 0
};

class CompletionStream {
 public:
  explicit CompletionStream(RemoteApi api) : api_(api) {}

  /// The next bytes of a 200 response. A fault ends the stream: later calls return it again.
  std::expected<void, StreamFault> feed(std::string_view bytes);
  /// At the end of the body: the whole answer, or why there is none (cut before the server
  /// said it had finished, a fault seen earlier).
  std::expected<std::string, StreamFault> finish();

  const StreamProgress& progress() const { return progress_; }
  /// True once since the last call when the answer or the progress moved on.
  bool take_news();

 private:
  std::expected<void, StreamFault> feed_shaped(std::string_view bytes);
  std::expected<void, StreamFault> line(std::string_view text);
  std::expected<void, StreamFault> event(std::string_view data);
  std::expected<void, StreamFault> native(const nlohmann::json& object);
  std::expected<void, StreamFault> openai(const nlohmann::json& object);
  std::expected<void, StreamFault> append(std::string_view piece);
  std::expected<void, StreamFault> fault(std::string message, int code = 0);

  RemoteApi api_;
  enum class Shape { unknown, events, document } shape_ = Shape::unknown;
  std::string leading_;  // white space before the shape is known, read with what follows
  std::string pending_;  // an incomplete line, or the whole document
  std::string data_;     // the data lines of the event being read
  std::string answer_;
  StreamProgress progress_;
  std::optional<StreamFault> fault_;
  bool finished_ = false;  // the server said the answer is complete
  bool news_ = false;
};

}  // namespace quorvel
