#include <windows.h>

#include "platform/env.h"
#include "platform/wide_win32.h"

namespace quorvel {

// The wide form: the narrow one would give the ANSI code page's reading of the value.
std::optional<std::string> env_var(const char* name) {
  std::wstring wide_name = to_wide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(0);
    DWORD length =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return from_wide(value);
    }
    value.resize(length);  // the length needed, terminator included
  }
}

}  // namespace quorvel
