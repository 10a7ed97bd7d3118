#pragma once
// JSON-RPC framing: reading request lines, parsing them, and writing one reply per line.
// Error kinds become protocol codes here and nowhere else.

#include <cstddef>
#include <istream>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quorvel {

using Json = nlohmann::json;

/// Lines longer than this are consumed and answered with a parse error instead of being
/// held in memory: no legitimate request comes near it.
inline constexpr std::size_t MAX_LINE_BYTES = 64u << 20;

/// Splits a byte stream into lines: cut at each line feed, one carriage return before it
/// dropped; a last line without a line feed counts; a final line feed adds no empty line.
class LineReader {
 public:
  explicit LineReader(std::istream& in, std::size_t max_line = MAX_LINE_BYTES)
      : in_(in), max_line_(max_line) {}

  struct Line {
    std::string text;
    bool too_long = false;  // the line exceeded the bound; `text` is empty
  };

  /// The next line, or nothing at the end of input or on a read failure.
  std::optional<Line> next();

 private:
  bool fill();

  std::istream& in_;
  std::size_t max_line_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

/// Parses one line as exactly one JSON value. The error message is "parse error: <what> at
/// line L column C".
Result<Json> parse_message(std::string_view line);

/// The JSON-RPC error code of an error kind (parse, method_not_found, unknown_tool,
/// invalid_params).
int error_code(ErrorKind kind);

/// Serializes compactly, keys in byte order, non-ASCII written as UTF-8.
std::string serialize(const Json& value);

/// Writes one reply line and flushes; write failures are ignored.
void write_result(std::ostream& out, const Json& id, Json result);
void write_error(std::ostream& out, const Json& id, const Error& error);
/// Writes one notification line and flushes; write failures are ignored.
void write_notification(std::ostream& out, std::string_view method, Json params);

}  // namespace quorvel
