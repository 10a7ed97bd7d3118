#include "server/transport.h"

namespace quorvel {

void Transport::result(const Json& id, Json result) {
  std::lock_guard lock(mutex_);
  write_result(out_, id, std::move(result));
}

void Transport::error(const Json& id, const Error& error) {
  std::lock_guard lock(mutex_);
  write_error(out_, id, error);
}

void Transport::notify(std::string_view method, Json params) {
  std::lock_guard lock(mutex_);
  write_notification(out_, method, std::move(params));
}

}  // namespace quorvel
