// `quorvel model pull` against any answer a server may give: a loopback server replies with
// the input's bytes to every request, and every address (redirects included, http or https)
// reaches it through the proxy settings, so nothing leaves the machine. The first byte
// chooses whether a part of the file is already there (a resumed download).
// Checks: the model's name is taken only by a file with a GGUF header; a failed pull leaves no
// model behind; the call ends (a redirect loop or a silent server must not hang it).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "cli/model_pull.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* URL = "http://models.invalid/translategemma.gguf";
int listener = -1;

std::FILE* quiet() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

// Reads one request's head (or gives up after a while), then sends the answer and closes.
void answer(int connection, std::string_view reply) {
  std::string head;
  char buffer[4096];
  pollfd readable{connection, POLLIN, 0};
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < (64 << 10) &&
         ::poll(&readable, 1, 1000) > 0) {
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  for (std::size_t sent = 0; sent < reply.size();) {
    ssize_t n = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(connection, SHUT_RDWR);
  ::close(connection);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    quorvel::fuzz::finding("loopback server");
  }
  const std::string proxy = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::setenv(name, proxy.c_str(), 1);
  }
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  ::unsetenv("LOCALAPPDATA");
  ::setenv("XDG_DATA_HOME", (quorvel::fuzz::scratch_dir() + "/data").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool resuming = (data[0] & 1) != 0;
  const std::string_view reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  const fs::path folder = fs::path(quorvel::fuzz::scratch_dir()) / "data";
  fs::remove_all(folder);
  const fs::path models = folder / "com.quorvel.translate" / "models";
  fs::create_directories(models);
  const fs::path model = models / "translategemma-4b-it-Q4_K_M.gguf";
  if (resuming) {
    std::ofstream(fs::path(model) += ".part", std::ios::binary) << "GGUF\x03";
    std::ofstream(fs::path(model) += ".part.url") << URL << "\n";
  }

  std::atomic<bool> done = false;
  std::thread server([&] {
    while (!done) {
      pollfd waiting{listener, POLLIN, 0};
      if (::poll(&waiting, 1, 20) <= 0) continue;
      int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) answer(connection, reply);
    }
  });
  quorvel::PullOptions options;
  options.url = URL;
  std::stop_source never;
  const int status = quorvel::run_model_pull(options, never.get_token(), quiet(), quiet(), false);
  done = true;
  server.join();

  std::error_code error;
  if (status == 0) {
    std::ifstream written(model, std::ios::binary);
    char magic[4] = {};
    written.read(magic, 4);
    FUZZ_CHECK(std::string_view(magic, 4) == "GGUF");
  } else {
    FUZZ_CHECK(!fs::exists(model, error));
  }
  return 0;
}
