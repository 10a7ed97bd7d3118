#include <iostream>

#include "platform/system.h"
#include "server/catalogue.h"

int main() {
  std::ios::sync_with_stdio(false);
  quorvel::ignore_write_signals();
  quorvel::return_large_blocks_to_system();
  quorvel::McpServer server = quorvel::make_server();
  quorvel::run_server(server, std::cin, std::cout);
  return 0;
}
