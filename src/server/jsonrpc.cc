#include "server/jsonrpc.h"

#include <fmt/core.h>

#include <algorithm>

namespace quorvel {

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;
// Deeper documents are refused before they are built: copying, printing and freeing a
// JSON value recurse once per level.
constexpr int MAX_JSON_DEPTH = 128;
// Values and keys in one message. A request needs a few dozen; a line of a million tiny
// values would take some 40 bytes of memory for each byte of input.
constexpr std::size_t MAX_JSON_VALUES = 1'000'000;

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The JSON library's messages read "syntax error while parsing <context> - <detail>";
// this turns them into short descriptions of what the input lacked.
std::string describe_syntax_error(std::string_view what) {
  // "unexpected end of input" contains these words too; only "; expected" marks a value
  // followed by more text.
  if (contains(what, "; expected end of input")) return "trailing characters";
  if (contains(what, "missing closing quote")) return "EOF while parsing a string";
  if (contains(what, "control character")) {
    return "control character (\\u0000-\\u001F) found while parsing a string";
  }
  if (contains(what, "surrogate")) return "invalid unicode code point";
  if (contains(what, "after backslash") || contains(what, "\\u")) return "invalid escape";
  if (contains(what, "invalid number")) return "invalid number";
  const bool at_end = contains(what, "unexpected end of input");
  if (contains(what, "parsing object key"))
    return at_end ? "EOF while parsing an object" : "key must be a string";
  if (contains(what, "parsing object separator"))
    return at_end ? "EOF while parsing an object" : "expected `:`";
  if (contains(what, "parsing object"))
    return at_end ? "EOF while parsing an object" : "expected `,` or `}`";
  if (contains(what, "parsing array"))
    return at_end ? "EOF while parsing a list" : "expected `,` or `]`";
  return at_end ? "EOF while parsing a value" : "expected value";
}

std::unexpected<Error> parse_failure(std::string_view line, std::string description,
                                     std::size_t byte) {
  // One-based position of the failing byte; the end of input reports the last byte.
  std::size_t offset = std::min(byte == 0 ? 0 : byte - 1, line.empty() ? 0 : line.size() - 1);
  std::size_t line_no = 1 + std::count(line.begin(), line.begin() + offset, '\n');
  std::size_t line_start = line.rfind('\n', offset == 0 ? 0 : offset - 1);
  std::size_t column =
      line_start == std::string_view::npos || offset == 0 ? offset + 1 : offset - line_start;
  return fail(ErrorKind::parse,
              fmt::format("parse error: {} at line {} column {}", description, line_no, column));
}

struct DepthExceeded {};
struct TooManyValues {};

}  // namespace

bool LineReader::fill() {
  if (eof_) return false;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  // Take only what is already there once one byte is: a pipe delivers a request and then
  // waits for the reply, so reading a fixed amount would block forever.
  std::streambuf* source = in_.rdbuf();
  if (!source || source->sgetc() == std::char_traits<char>::eof()) {
    eof_ = true;
    return false;
  }
  std::streamsize ready = std::clamp<std::streamsize>(source->in_avail(), 1, READ_CHUNK);
  std::size_t old_size = buffer_.size();
  buffer_.resize(old_size + static_cast<std::size_t>(ready));
  auto got = static_cast<std::size_t>(source->sgetn(buffer_.data() + old_size, ready));
  buffer_.resize(old_size + got);
  if (got == 0) eof_ = true;
  return got > 0;
}

std::optional<LineReader::Line> LineReader::next() {
  std::size_t scanned = 0;  // bytes after pos_ known to hold no line feed
  bool discarding = false;
  for (;;) {
    std::size_t lf = buffer_.find('\n', pos_ + scanned);
    if (lf != std::string::npos) {
      Line line;
      std::size_t length = lf - pos_;
      if (length > 0 && buffer_[lf - 1] == '\r') --length;
      if (discarding || length > max_line_) {
        line.too_long = true;
      } else {
        line.text.assign(buffer_, pos_, length);
      }
      pos_ = lf + 1;
      return line;
    }
    if (buffer_.size() - pos_ > max_line_ + 1) {
      // Keep reading to the end of the line, but hold none of it.
      discarding = true;
      buffer_.clear();
      pos_ = 0;
    }
    scanned = buffer_.size() - pos_;
    if (!fill()) {
      if (buffer_.size() == pos_ && !discarding) return std::nullopt;
      Line line;
      line.too_long = discarding;
      if (!discarding) line.text.assign(buffer_, pos_);
      if (line.text.size() > max_line_) {
        line.text.clear();
        line.too_long = true;
      }
      buffer_.clear();
      pos_ = 0;
      return line;
    }
  }
}

Result<Json> parse_message(std::string_view line) {
  try {
    std::size_t values = 0;
    Json::parser_callback_t limit_size = [&values](int depth, Json::parse_event_t event, Json&) {
      const bool opens =
          event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
      if (depth > MAX_JSON_DEPTH && opens) throw DepthExceeded{};
      if ((opens || event == Json::parse_event_t::key || event == Json::parse_event_t::value) &&
          ++values > MAX_JSON_VALUES) {
        throw TooManyValues{};
      }
      return true;
    };
    return Json::parse(line.begin(), line.end(), limit_size);
  } catch (const Json::parse_error& e) {
    return parse_failure(line, describe_syntax_error(e.what()), e.byte);
  } catch (const Json::out_of_range&) {
    return parse_failure(line, "number out of range", line.size());
  } catch (const DepthExceeded&) {
    return fail(ErrorKind::parse, "parse error: recursion limit exceeded");
  } catch (const TooManyValues&) {
    return fail(ErrorKind::parse,
                fmt::format("parse error: more than {} values in one message", MAX_JSON_VALUES));
  }
}

int error_code(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::parse:
      return -32700;
    case ErrorKind::method_not_found:
      return -32601;
    case ErrorKind::unknown_tool:
    case ErrorKind::invalid_params:
      return -32602;
    default:
      return -32603;
  }
}

std::string serialize(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {
void write_line(std::ostream& out, const Json& reply) {
  std::string line = serialize(reply);
  line += '\n';
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.flush();
  out.clear();  // a failed write is ignored; the next reply tries again
}
}  // namespace

void write_result(std::ostream& out, const Json& id, Json result) {
  Json reply = Json::object();
  reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["result"] = std::move(result);
  write_line(out, reply);
}

void write_error(std::ostream& out, const Json& id, const Error& error) {
  Json reply = Json::object();
  reply["jsonrpc"] = "2.0";
  reply["id"] = id;
  reply["error"] = {{"code", error_code(error.kind)}, {"message", error.message}};
  write_line(out, reply);
}

}  // namespace quorvel

namespace quorvel {

void write_notification(std::ostream& out, std::string_view method, Json params) {
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["method"] = method;
  message["params"] = std::move(params);
  write_line(out, message);
}

}  // namespace quorvel
