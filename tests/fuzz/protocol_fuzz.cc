// The server loop on arbitrary input: lines of any length and bytes, JSON of any shape, any
// method and tool arguments. The engine can never load here (discovery points nowhere), so
// a tool call that passes its checks fails at start-up, before anything is written.
// Checks: every reply is one line holding one JSON-RPC object, at most one per input line.

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "server/catalogue.h"
#include "server/mcp_server.h"

namespace {

quorvel::McpServer& server() {
  static quorvel::McpServer* instance = new quorvel::McpServer(quorvel::make_server());
  return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TRANSLATE_LLM_DIR", "/nonexistent/quorvel-fuzz/engine", 1);
  ::setenv("TRANSLATE_LLM_MODEL", "/nonexistent/quorvel-fuzz/model.gguf", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::istringstream in{std::string(input)};
  std::ostringstream out;
  // A small line bound, so that inputs reach the refusal of over-long lines too.
  quorvel::run_server(server(), in, out, 4096);

  std::size_t input_lines = 1;
  for (char c : input) input_lines += c == '\n' ? 1 : 0;
  std::string replies = out.str();
  FUZZ_CHECK(replies.empty() || replies.back() == '\n');
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < replies.size()) {
    std::size_t end = replies.find('\n', start);
    auto reply =
        nlohmann::json::parse(replies.begin() + static_cast<std::ptrdiff_t>(start),
                              replies.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    FUZZ_CHECK(reply.is_object());
    FUZZ_CHECK(reply.value("jsonrpc", "") == "2.0");
    FUZZ_CHECK(reply.contains("id"));
    FUZZ_CHECK(reply.contains("result") != reply.contains("error"));
    ++count;
    start = end + 1;
  }
  FUZZ_CHECK(count <= input_lines);
  return 0;
}
