#include "engine/remote/settings.h"

#include <fmt/core.h>

#include <charconv>

#include "platform/files.h"
#include "platform/text.h"

namespace quorvel {

namespace {

std::unexpected<Error> bad(const char* variable, std::string_view value, std::string_view why) {
  return fail(ErrorKind::invalid_argument, fmt::format("{}={}: {}", variable, value, why));
}

std::optional<long> whole_number(std::string_view text) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Result<ServerAddress> parse_address(std::string_view given) {
  std::string base(trim(given));
  if (!base.starts_with("http://") && !base.starts_with("https://")) {
    return bad("TRANSLATE_LLM_URL", given, "each address must start with http:// or https://");
  }
  if (has_nul_byte(base) || base.find_first_of(" \t\r\n?#") != std::string::npos) {
    return bad("TRANSLATE_LLM_URL", given, "an address has no spaces, query or fragment");
  }
  const std::size_t host = base.find("//") + 2;
  if (host >= base.size() || base[host] == '/') {
    return bad("TRANSLATE_LLM_URL", given, "the address names no host");
  }
  while (base.ends_with('/')) base.pop_back();
  const RemoteApi api = base.ends_with("/v1") ? RemoteApi::openai : RemoteApi::native;
  return ServerAddress{std::move(base), api};
}

}  // namespace

Result<std::optional<RemoteSettings>> read_remote_settings(
    const std::function<std::optional<std::string>(const char*)>& env) {
  auto urls = env("TRANSLATE_LLM_URL");
  if (!urls || trim(*urls).empty()) return std::nullopt;
  RemoteSettings settings;
  std::string_view rest = *urls;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (trim(item).empty()) continue;
    auto address = parse_address(item);
    if (!address) return std::unexpected(address.error());
    settings.servers.push_back(std::move(*address));
  }
  if (auto slots = env("TRANSLATE_LLM_SLOTS"); slots && !slots->empty()) {
    auto value = whole_number(*slots);
    if (!value || *value < 1 || *value > MAX_SLOTS) {
      return bad("TRANSLATE_LLM_SLOTS", *slots, fmt::format("expected 1 to {}", MAX_SLOTS));
    }
    settings.slots = static_cast<int>(*value);
  }
  if (auto timeout = env("TRANSLATE_LLM_TIMEOUT"); timeout && !timeout->empty()) {
    auto value = whole_number(*timeout);
    if (!value || *value < 1 || *value > 86400) {
      return bad("TRANSLATE_LLM_TIMEOUT", *timeout, "expected seconds from 1 to 86400");
    }
    settings.idle_timeout = std::chrono::seconds(*value);
  }
  if (auto key = env("TRANSLATE_LLM_API_KEY")) {
    if (key->find_first_of("\r\n") != std::string::npos || has_nul_byte(*key)) {
      return fail(ErrorKind::invalid_argument, "TRANSLATE_LLM_API_KEY holds a line break");
    }
    settings.api_key = std::move(*key);
  }
  return settings;
}

}  // namespace quorvel
