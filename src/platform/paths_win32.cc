#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace quorvel {

namespace fs = std::filesystem;

Result<fs::path> canonical_path(const fs::path& path) {
  const std::wstring& native = path.native();
  if (native.find(L'\0') != std::wstring::npos) {
    std::string text = system_message(ERROR_INVALID_NAME);
    return fail(ErrorKind::invalid_argument, text, text);
  }
  // FILE_FLAG_BACKUP_SEMANTICS lets the query open directories as well as files.
  HANDLE handle =
      CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::string text = system_message(GetLastError());
    return fail(ErrorKind::not_found, text, text);
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length =
        GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) {
      std::string text = system_message(GetLastError());
      CloseHandle(handle);
      return fail(ErrorKind::not_found, text, text);
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);  // the length needed, terminator included
  }
  CloseHandle(handle);
  // Kept in the form the query gives (\\?\C:\...): the engine directory is named so.
  return fs::path(std::move(buffer));
}

std::optional<fs::path> executable_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return fs::path(buffer);
    }
    buffer.resize(buffer.size() * 2);  // cut short: grow until the path fits
  }
}

fs::path path_from_utf8(std::string_view utf8) {
  return fs::path(to_wide(utf8));
}

std::string path_to_utf8(const fs::path& path) {
  return from_wide(path.native());
}

}  // namespace quorvel
