#include "engine/remote/server_pool.h"

#include <fmt/core.h>

#include <algorithm>

namespace quorvel {

std::chrono::milliseconds time_out_after(int strikes) {
  using std::chrono::milliseconds;
  if (strikes >= MAX_STRIKES) return milliseconds(30000);
  return milliseconds(strikes <= 1 ? 1000 : 4000);
}

ServerPool::ServerPool(RemoteSettings settings, std::FILE* log)
    : settings_(std::move(settings)), log_(log) {
  for (const auto& address : settings_.servers) servers_.push_back(ServerState{address});
}

bool ServerPool::failed(std::size_t server, std::string error, RemoteClock::time_point now,
                        RemoteClock::time_point started) {
  ServerState& state = servers_[server];
  if (started < state.failed_at) return false;
  state.failed_at = now;
  state.strikes = std::min(state.strikes + 1, MAX_STRIKES);
  state.down_until = now + time_out_after(state.strikes);
  state.last_error = std::move(error);
  return true;
}

bool ServerPool::all_given_up(RemoteClock::time_point now) const {
  return std::all_of(servers_.begin(), servers_.end(), [&](const ServerState& s) {
    return s.strikes >= MAX_STRIKES && now < s.down_until;
  });
}

std::optional<RemoteClock::time_point> ServerPool::next_return(RemoteClock::time_point now) const {
  std::optional<RemoteClock::time_point> next;
  for (const auto& s : servers_) {
    if (now >= s.down_until || s.strikes >= MAX_STRIKES) continue;
    if (!next || s.down_until < *next) next = s.down_until;
  }
  return next;
}

std::string ServerPool::failure_summary() const {
  std::string text = "no translation server answered (TRANSLATE_LLM_URL)";
  const char* separator = ": ";
  for (const auto& s : servers_) {
    text += fmt::format("{}{}: {}", separator, s.address.base,
                        s.last_error.empty() ? std::string("no answer") : s.last_error);
    separator = "; ";
  }
  return text;
}

}  // namespace quorvel
