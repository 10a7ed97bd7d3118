#include <windows.h>

#include "platform/dynlib.h"

namespace quorvel {

std::string library_file_name(std::string_view name) {
  return std::string(name) + ".dll";
}

Result<LibraryHandle> load_library(const std::filesystem::path& path) {
  // No "cannot find a DLL" dialog box when a dependency is missing: the caller reports it.
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous);
  SetLastError(0);
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  DWORD code = GetLastError();
  SetThreadErrorMode(previous, nullptr);
  if (module == nullptr) {
    std::string text = code != 0 ? "LoadLibraryExW failed"
                                 : "LoadLibraryExW failed, but system did not report the error";
    return fail(ErrorKind::engine, text, text);
  }
  return static_cast<LibraryHandle>(module);
}

Result<void*> find_symbol(LibraryHandle library, const char* name) {
  SetLastError(0);
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
  if (address == nullptr) {
    std::string text = GetLastError() != 0
                           ? "GetProcAddress failed"
                           : "GetProcAddress failed, but system did not report the error";
    return fail(ErrorKind::engine, text, text);
  }
  return reinterpret_cast<void*>(address);
}

void unload_library(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace quorvel
