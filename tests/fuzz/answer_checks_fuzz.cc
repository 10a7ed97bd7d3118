// The checks on model answers: the input is a source text and a raw answer, split at the
// first NUL byte.
// Checks: the token budget stays within its bounds, and the cleaned answer is a piece of the
// raw answer, valid UTF-8 whenever the answer was.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/text.h"
#include "translation/answer_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t split = input.find('\0');
  std::string_view source = input.substr(0, split);
  std::string_view answer = split == std::string_view::npos ? input : input.substr(split + 1);

  (void)quorvel::needs_no_translation(source);
  const auto budget = quorvel::token_budget(source);
  FUZZ_CHECK(budget >= 96 && budget <= 3072);

  std::string cleaned = quorvel::clean_output(source, answer);
  FUZZ_CHECK(answer.find(cleaned) != std::string_view::npos);
  FUZZ_CHECK(!quorvel::is_valid_utf8(answer) || quorvel::is_valid_utf8(cleaned));
  (void)quorvel::is_reliable(source, cleaned);
  (void)quorvel::is_reliable(source, answer);
  return 0;
}
