#pragma once
// The way out of the server: every message is one whole line, written and flushed under one
// lock, so replies and notifications from different threads never interleave.

#include <mutex>
#include <ostream>
#include <string_view>

#include "server/jsonrpc.h"

namespace quorvel {

/// Any thread may call it.
class Transport {
 public:
  explicit Transport(std::ostream& out) : out_(out) {}

  void result(const Json& id, Json result);
  void error(const Json& id, const Error& error);
  void notify(std::string_view method, Json params);

 private:
  std::mutex mutex_;
  std::ostream& out_;  // guarded by mutex_
};

}  // namespace quorvel
