#pragma once
// The translation servers of one process and what is known of each: how many prompts it
// takes at once, its model, and whether it is in rotation. A server that fails is left out
// for a while, longer after each failure in a row; after MAX_STRIKES in a row it counts as
// given up until its time out ends. One thread at a time.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/remote/settings.h"

namespace quorvel {

using RemoteClock = std::chrono::steady_clock;

inline constexpr int MAX_STRIKES = 3;

struct ServerState {
  ServerAddress address;
  bool probed = false;  // slots and model are known
  int slots = 1;
  std::string model;
  int strikes = 0;  // failures in a row
  RemoteClock::time_point down_until{};
  RemoteClock::time_point failed_at{};  // the last failure that counted
  std::string last_error;
  bool warned = false;  // the model family warning was written
};

class ServerPool {
 public:
  ServerPool(RemoteSettings settings, std::FILE* log = stderr);

  std::vector<ServerState>& servers() { return servers_; }
  const std::vector<ServerState>& servers() const { return servers_; }
  const RemoteSettings& settings() const { return settings_; }
  std::FILE* log() const { return log_; }

  bool in_rotation(std::size_t server, RemoteClock::time_point now) const {
    return now >= servers_[server].down_until;
  }
  /// A request started at `started` failed. Requests already on their way when an earlier
  /// one failed share its failure: one outage is one strike. False when it did not count.
  bool failed(std::size_t server, std::string error, RemoteClock::time_point now,
              RemoteClock::time_point started);
  void answered(std::size_t server) { servers_[server].strikes = 0; }
  /// True when every server has failed MAX_STRIKES times in a row and is still out.
  bool all_given_up(RemoteClock::time_point now) const;
  /// The earliest time a server out of rotation (and not given up) comes back, if any is out.
  std::optional<RemoteClock::time_point> next_return(RemoteClock::time_point now) const;
  /// "no translation server answered (TRANSLATE_LLM_URL): <url>: <error>; ..."
  std::string failure_summary() const;

 private:
  RemoteSettings settings_;
  std::vector<ServerState> servers_;
  std::FILE* log_;
};

/// How long a server stays out after its n-th failure in a row.
std::chrono::milliseconds time_out_after(int strikes);

}  // namespace quorvel
