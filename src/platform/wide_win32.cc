#include "platform/wide_win32.h"

#include <windows.h>

#include "platform/text.h"

namespace quorvel {

std::wstring to_wide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    auto c = next_char(utf8, pos);
    if (!c) {
      c = 0xFFFD;
      ++pos;
    }
    if (*c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((*c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((*c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(*c);
    }
  }
  return out;
}

std::string from_wide(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<char16_t>(wide[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() &&
        static_cast<char16_t>(wide[i + 1]) >= 0xDC00 &&
        static_cast<char16_t>(wide[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

std::string system_message(unsigned long code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return "system error " + std::to_string(code);
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  std::string out = from_wide(text);
  LocalFree(buffer);
  return out;
}

}  // namespace quorvel
