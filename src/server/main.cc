#include <chrono>
#include <iostream>
#include <thread>

#include "platform/system.h"
#include "server/catalogue.h"

int main() {
  std::ios::sync_with_stdio(false);
  quorvel::ignore_write_signals();
  quorvel::use_binary_standard_streams();
  quorvel::return_large_blocks_to_system();
  // Before any thread starts, so that only the watcher below takes these signals.
  quorvel::block_stop_signals();
  quorvel::McpServer server = quorvel::make_server();
  // SIGTERM or SIGINT: stop every call (no output, no temporary file left), then end as the
  // signal would. A host sends SIGTERM shortly after closing our input, so be quick.
  std::thread([&server] {
    int signal = quorvel::wait_stop_signal();
    server.shutdown.stop.request_stop();
    server.shutdown.wait_quiet(std::chrono::seconds(5));
    quorvel::die_of_signal(signal);
  }).detach();
  quorvel::run_server(server, std::cin, std::cout);
  return 0;
}
