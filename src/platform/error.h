#pragma once
// Errors are values: every fallible operation returns Result<T>, whose error carries the
// message the client sees and, separately, the underlying cause (never shown to the client).

#include <expected>
#include <string>
#include <utility>

namespace quorvel {

enum class ErrorKind {
  invalid_argument,  // a tool argument the caller must fix
  not_found,         // a file, directory, engine or model that is not there
  io,                // reading or writing a file failed
  format,            // an input document is malformed or empty
  engine,            // binding, loading or running the inference engine failed
  parse,             // a protocol line is not one JSON value
  method_not_found,  // a JSON-RPC method the server does not offer
  unknown_tool,      // tools/call naming a tool the server does not offer
  invalid_params,    // a protocol request whose parameters name nothing known
  limit,             // an input exceeds a safety bound
  cancelled,         // the caller asked the work to stop
};

struct Error {
  ErrorKind kind = ErrorKind::io;
  std::string message;  // the outermost message: the only text a client sees
  std::string cause;    // the underlying library or system error, if any
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(ErrorKind kind, std::string message, std::string cause = {}) {
  return std::unexpected(Error{kind, std::move(message), std::move(cause)});
}

}  // namespace quorvel
