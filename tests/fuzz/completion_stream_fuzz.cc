// The reader of completion responses, fed a server's bytes in pieces of varying size, as
// both APIs. The first byte picks the API and the split points.
// Checks: the answer never exceeds its bound, feeding the same bytes in one piece gives the
// same outcome (pieces must not change the meaning), and a fault stays a fault.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/remote/completion_stream.h"
#include "fuzz_support.h"

namespace {

using quorvel::CompletionStream;

std::expected<std::string, quorvel::StreamFault> read_all(quorvel::RemoteApi api,
                                                          std::string_view body, unsigned step) {
  CompletionStream stream(api);
  bool faulted = false;
  for (std::size_t at = 0; at < body.size(); at += step) {
    if (!stream.feed(body.substr(at, step))) faulted = true;
  }
  auto answer = stream.finish();
  FUZZ_CHECK(!(faulted && answer.has_value()));
  if (answer) FUZZ_CHECK(answer->size() <= quorvel::MAX_ANSWER_BYTES);
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto api = (data[0] & 1) ? quorvel::RemoteApi::openai : quorvel::RemoteApi::native;
  const unsigned step = 1 + (data[0] >> 1) % 17;
  std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  auto pieces = read_all(api, body, step);
  auto whole = read_all(api, body, static_cast<unsigned>(body.size() + 1));
  FUZZ_CHECK(pieces.has_value() == whole.has_value());
  if (pieces) FUZZ_CHECK(*pieces == *whole);
  return 0;
}
