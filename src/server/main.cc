#include <iostream>

#include "server/catalogue.h"

int main() {
  std::ios::sync_with_stdio(false);
  quorvel::McpServer server = quorvel::make_server();
  quorvel::run_server(server, std::cin, std::cout);
  return 0;
}
