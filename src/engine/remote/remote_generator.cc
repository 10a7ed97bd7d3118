#include "engine/remote/remote_generator.h"

#include <curl/curl.h>
#include <fmt/core.h>

#include <algorithm>
#include <deque>
#include <list>
#include <memory>
#include <set>

#include "engine/remote/completion_stream.h"
#include "engine/remote/http_transfer.h"
#include "engine/remote/remote_api.h"
#include "platform/text.h"

namespace quorvel {

namespace {

using namespace std::chrono_literals;

constexpr auto TICK = 100ms;
constexpr std::chrono::seconds DESCRIBE_TIMEOUT{15};

void say(std::FILE* log, const std::string& line) {
  std::fputs(line.c_str(), log);
  std::fflush(log);
}

Error engine_error(std::string message) {
  return Error{ErrorKind::engine, std::move(message), {}};
}

// Prompts in flight at once on a server.
int capacity(const ServerPool& pool, const ServerState& server) {
  if (pool.settings().slots) return *pool.settings().slots;
  return server.slots > 0 ? server.slots : DEFAULT_SLOTS;
}

void take_description(ServerPool& pool, std::size_t index, const ServerDescription& found) {
  ServerState& server = pool.servers()[index];
  server.probed = true;
  server.slots = found.slots > 0 ? found.slots : DEFAULT_SLOTS;
  server.model = found.model;
  if (!server.warned && !is_expected_family(found.model)) {
    server.warned = true;
    say(pool.log(), fmt::format("[corvane] warning: {} serves the model \"{}\", which does not "
                                "look like a TranslateGemma model; the prompts are written for "
                                "that family\n",
                                server.address.base, found.model));
  }
}

void server_failed(ServerPool& pool, std::size_t index, std::string error,
                   RemoteClock::time_point started) {
  const auto now = RemoteClock::now();
  if (!pool.failed(index, error, now, started)) return;
  const ServerState& server = pool.servers()[index];
  const auto out = std::chrono::duration_cast<std::chrono::seconds>(server.down_until - now);
  say(pool.log(), fmt::format("[corvane] translation server {} failed: {}; out of rotation for "
                              "{} s\n",
                              server.address.base, error, out.count()));
}

// One prompt on its way to a server.
struct Flight {
  std::size_t index = 0;
  std::size_t server = 0;
  uint32_t budget = 0;
  CompletionStream stream;
  std::unique_ptr<HttpTransfer> transfer;
  RemoteClock::time_point started;
  RemoteClock::time_point last_news;

  Flight(std::size_t index, std::size_t server, uint32_t budget, RemoteApi api)
      : index(index), server(server), budget(budget), stream(api) {}
};

// How one finished request turned out.
struct Outcome {
  enum Kind { answered, server_fault, prompt_fault } kind = answered;
  std::string text;  // the answer, or the error message
};

// The error texts do not name the server: the caller adds it where it is needed.
Outcome outcome_of(Flight& flight, int code) {
  auto said = [](std::string message) { return message; };
  HttpTransfer& transfer = *flight.transfer;
  const long status = transfer.status();
  if (code != CURLE_OK && !transfer.stopped_by_sink()) {
    return {Outcome::server_fault, said(transfer.failure(code))};
  }
  if (code == CURLE_OK && status != 200) {
    std::string message = said(http_error_message(status, transfer.error_body()));
    return {blames_request(status) ? Outcome::prompt_fault : Outcome::server_fault, message};
  }
  auto answer = flight.stream.finish();
  if (!answer) {
    const int reported = answer.error().code;
    const bool request = reported != 0 && blames_request(reported);
    return {request ? Outcome::prompt_fault : Outcome::server_fault, said(answer.error().message)};
  }
  if (!is_valid_utf8(*answer)) {
    return {Outcome::prompt_fault, said("the model produced invalid UTF-8")};
  }
  return {Outcome::answered, std::move(*answer)};
}

// One generate or generate_many call.
class Call {
 public:
  Call(ServerPool& pool, const std::vector<PromptRequest>& prompts, const SamplingParams& params,
       const GenerationControl& control, std::function<bool(std::size_t, std::string)> deliver)
      : pool_(pool),
        prompts_(prompts),
        params_(params),
        control_(control),
        deliver_(std::move(deliver)),
        tries_(prompts.size(), 0),
        load_(pool.servers().size(), 0) {
    for (std::size_t i = 0; i < prompts.size(); ++i) queue_.push_back(i);
  }

  /// Runs until every prompt is answered, one is refused, the receiver wants no more, a stop
  /// is asked for or no server is left. `lost` is set in the last case.
  Result<void> run(std::optional<Error>& lost);

 private:
  void dispatch();
  std::optional<std::size_t> pick_server();
  void start(std::size_t index, std::size_t server);
  void finished(Flight& flight, int code);
  void retry_elsewhere(Flight& flight, std::string error);
  void report(Flight& flight);
  void check_silence();
  void drop_all();
  std::list<Flight>::iterator find(const HttpTransfer* transfer);

  ServerPool& pool_;
  const std::vector<PromptRequest>& prompts_;
  const SamplingParams& params_;
  const GenerationControl& control_;
  std::function<bool(std::size_t, std::string)> deliver_;
  HttpMulti multi_;
  std::deque<std::size_t> queue_;  // prompts not running, retried ones first
  std::list<Flight> flights_;      // stable addresses: each transfer writes into its flight
  std::vector<int> tries_;         // per prompt: servers that failed it
  std::vector<int> load_;          // per server: prompts in flight
  std::optional<Error> refused_;   // the first prompt a server refused
  bool closed_ = false;            // no prompt starts any more
  bool unwanted_ = false;          // the receiver wants no more answers
};

Result<void> Call::run(std::optional<Error>& lost) {
  std::stop_callback wake(control_.stop, [this] { multi_.wake(); });
  auto last_turn = RemoteClock::now();
  for (;;) {
    // A receiver may have run a call of its own meanwhile: the time it took is not the
    // servers' silence.
    const auto turn = RemoteClock::now();
    if (turn - last_turn > 2 * TICK) {
      for (auto& flight : flights_) flight.last_news += turn - last_turn - TICK;
    }
    last_turn = turn;
    if (control_.stop.stop_requested()) {
      drop_all();
      return fail(ErrorKind::cancelled, "cancelled");
    }
    if (!closed_) dispatch();
    if (flights_.empty()) {
      if (closed_ || queue_.empty()) break;
      const auto now = RemoteClock::now();
      if (pool_.all_given_up(now) || !pool_.next_return(now)) {
        lost = engine_error(pool_.failure_summary());
        return std::unexpected(*lost);
      }
    }
    for (auto& [transfer, code] : multi_.run(TICK)) {
      auto flight = find(transfer);
      if (flight == flights_.end()) continue;
      finished(*flight, code);
      flights_.erase(flight);
      if (unwanted_) {
        drop_all();
        return {};
      }
    }
    for (auto& flight : flights_) report(flight);
    check_silence();
  }
  if (refused_) return std::unexpected(*refused_);
  return {};
}

// Starts waiting prompts on the servers in rotation with a free slot, least loaded first.
void Call::dispatch() {
  while (!queue_.empty()) {
    auto server = pick_server();
    if (!server) return;
    const std::size_t index = queue_.front();
    queue_.pop_front();
    start(index, *server);
  }
}

std::optional<std::size_t> Call::pick_server() {
  const auto now = RemoteClock::now();
  auto& servers = pool_.servers();
  std::optional<std::size_t> best;
  double best_share = 1.0;
  for (std::size_t s = 0; s < servers.size(); ++s) {
    if (!pool_.in_rotation(s, now)) continue;
    // A server that was out when the servers were first described is asked now.
    if (!servers[s].probed) (void)describe_servers(pool_);
    if (!servers[s].probed || !pool_.in_rotation(s, RemoteClock::now())) continue;
    const double share = static_cast<double>(load_[s]) / capacity(pool_, servers[s]);
    if (share < best_share) {
      best_share = share;
      best = s;
    }
  }
  return best;
}

void Call::start(std::size_t index, std::size_t server) {
  const ServerState& state = pool_.servers()[server];
  const PromptRequest& prompt = prompts_[index];
  Flight& flight = flights_.emplace_back(index, server, prompt.max_new_tokens, state.address.api);
  flight.started = flight.last_news = RemoteClock::now();
  HttpRequest request{
      completion_url(state.address),
      completion_body(state.address, state.model, prompt.prompt, prompt.max_new_tokens, params_)};
  request.api_key = pool_.settings().api_key;
  flight.transfer = std::make_unique<HttpTransfer>(
      std::move(request),
      [&flight](std::string_view bytes) { return flight.stream.feed(bytes).has_value(); });
  ++load_[server];
  multi_.add(*flight.transfer);
}

void Call::finished(Flight& flight, int code) {
  --load_[flight.server];
  const std::string& base = pool_.servers()[flight.server].address.base;
  Outcome outcome = outcome_of(flight, code);
  switch (outcome.kind) {
    case Outcome::server_fault:
      retry_elsewhere(flight, std::move(outcome.text));
      return;
    case Outcome::prompt_fault:
      say(pool_.log(), fmt::format("[corvane] translation server {} refused a prompt: {}\n", base,
                                   outcome.text));
      if (!refused_) refused_ = engine_error(fmt::format("{}: {}", base, outcome.text));
      closed_ = true;
      return;
    case Outcome::answered:
      pool_.answered(flight.server);
      if (!deliver_(flight.index, std::move(outcome.text))) closed_ = unwanted_ = true;
      return;
  }
}

// The server is out for a while; the prompt goes back to the front of the queue, unless
// every server has failed it twice already.
void Call::retry_elsewhere(Flight& flight, std::string error) {
  server_failed(pool_, flight.server, error, flight.started);
  const int limit = 2 * static_cast<int>(pool_.servers().size()) + 1;
  if (++tries_[flight.index] >= limit) {
    if (!refused_) {
      refused_ =
          engine_error(fmt::format("no server could answer a prompt; the last said: {}", error));
    }
    closed_ = true;
    return;
  }
  queue_.push_front(flight.index);
}

void Call::report(Flight& flight) {
  if (!flight.stream.take_news()) return;
  flight.last_news = RemoteClock::now();
  if (!control_.on_tokens) return;
  const StreamProgress& progress = flight.stream.progress();
  if (progress.prompt_tokens) {
    const uint64_t prompt = *progress.prompt_tokens;
    const uint64_t done = std::min(progress.prompt_done, prompt) + progress.generated;
    control_.on_tokens(flight.index, std::min<uint64_t>(done, prompt + flight.budget),
                       prompt + flight.budget);
  } else {
    control_.on_tokens(flight.index, std::min<uint64_t>(progress.generated, flight.budget),
                       flight.budget);
  }
}

// A request that has brought nothing new for the settings' idle time counts as a failure of
// its server: keep-alive pings alone do not keep it going.
void Call::check_silence() {
  const auto now = RemoteClock::now();
  const auto limit = pool_.settings().idle_timeout;
  for (auto it = flights_.begin(); it != flights_.end();) {
    if (now - it->last_news < limit) {
      ++it;
      continue;
    }
    multi_.remove(*it->transfer);
    --load_[it->server];
    retry_elsewhere(*it, fmt::format("no answer for {} s", limit.count()));
    it = flights_.erase(it);
  }
}

void Call::drop_all() {
  for (auto& flight : flights_) multi_.remove(*flight.transfer);
  flights_.clear();
}

std::list<Flight>::iterator Call::find(const HttpTransfer* transfer) {
  return std::find_if(flights_.begin(), flights_.end(),
                      [&](const Flight& f) { return f.transfer.get() == transfer; });
}

}  // namespace

Result<void> describe_servers(ServerPool& pool) {
  struct Probe {
    std::size_t server;
    std::string body;
    std::unique_ptr<HttpTransfer> transfer;
  };
  auto& servers = pool.servers();
  const auto now = RemoteClock::now();
  std::list<Probe> probes;
  HttpMulti multi;
  for (std::size_t s = 0; s < servers.size(); ++s) {
    if (servers[s].probed || !pool.in_rotation(s, now)) continue;
    Probe& probe = probes.emplace_back(Probe{s, {}, nullptr});
    HttpRequest request{description_url(servers[s].address),
                        {},
                        std::chrono::seconds(10),
                        DESCRIBE_TIMEOUT,
                        pool.settings().api_key};
    probe.transfer =
        std::make_unique<HttpTransfer>(std::move(request), [&probe](std::string_view bytes) {
          if (probe.body.size() + bytes.size() > MAX_EVENT_BYTES) return false;
          probe.body.append(bytes);
          return true;
        });
    multi.add(*probe.transfer);
  }
  for (std::size_t left = probes.size(); left > 0;) {
    for (auto& [transfer, code] : multi.run(TICK)) {
      --left;
      auto probe = std::find_if(probes.begin(), probes.end(),
                                [&](const Probe& p) { return p.transfer.get() == transfer; });
      std::string error;
      if (code != CURLE_OK) {
        error = transfer->stopped_by_sink()
                    ? fmt::format("description larger than {} bytes", MAX_EVENT_BYTES)
                    : transfer->failure(code);
      } else if (transfer->status() != 200) {
        error = http_error_message(transfer->status(), transfer->error_body());
      } else if (auto found = read_description(servers[probe->server].address, probe->body);
                 !found) {
        error = found.error().message;
      } else {
        take_description(pool, probe->server, *found);
      }
      if (!error.empty()) server_failed(pool, probe->server, error, now);
    }
  }
  const bool any = std::any_of(servers.begin(), servers.end(), [&](const ServerState& s) {
    // A server out for a moment still counts; one given up does not.
    return s.probed && (now >= s.down_until || s.strikes < MAX_STRIKES);
  });
  if (!any) return fail(ErrorKind::engine, pool.failure_summary());
  return {};
}

std::string remote_identity(const ServerPool& pool) {
  std::set<std::string> models;
  for (const auto& s : pool.servers()) {
    if (s.probed) models.insert(s.model);
  }
  std::string identity = "remote";
  for (const auto& model : models) identity += "\n" + model;
  return identity;
}

Result<std::string> RemoteGenerator::generate(std::string_view prompt, uint32_t max_new_tokens,
                                              const SamplingParams& params,
                                              const GenerationControl& control) {
  if (lost_) return std::unexpected(*lost_);
  std::vector<PromptRequest> one{{std::string(prompt), max_new_tokens}};
  std::optional<std::string> answer;
  Call call(pool_, one, params, control, [&](std::size_t, std::string text) {
    answer = std::move(text);
    return true;
  });
  if (auto ran = call.run(lost_); !ran) return std::unexpected(ran.error());
  if (!answer) return std::unexpected(engine_error("no answer"));
  return std::move(*answer);
}

Result<std::vector<std::string>> RemoteGenerator::generate_many(
    const std::vector<PromptRequest>& prompts, const SamplingParams& params,
    const OnResult& on_result, const GenerationControl& control) {
  if (lost_) return std::unexpected(*lost_);
  std::vector<std::string> results(prompts.size());
  if (prompts.empty()) return results;
  Call call(pool_, prompts, params, control, [&](std::size_t i, std::string text) {
    bool go_on = on_result ? on_result(i, text) : true;
    results[i] = std::move(text);
    return go_on;
  });
  if (auto ran = call.run(lost_); !ran) return std::unexpected(ran.error());
  return results;
}

}  // namespace quorvel
