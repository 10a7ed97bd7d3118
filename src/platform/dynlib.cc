#include "platform/dynlib.h"

#include <utility>

#if defined(_WIN32)
#else
#include <dlfcn.h>
#endif

namespace quorvel {

#if defined(_WIN32)

std::string library_file_name(std::string_view name) {
  return std::string(name) + ".dll";
}

// The Windows loader (LoadLibraryExW with LOAD_WITH_ALTERED_SEARCH_PATH) is not built yet.
Result<LibraryHandle> load_library(const std::filesystem::path&) {
  return fail(ErrorKind::engine, "LoadLibraryExW failed, but system did not report the error");
}

Result<void*> find_symbol(LibraryHandle, const char*) {
  return fail(ErrorKind::engine, "GetProcAddress failed, but system did not report the error");
}

void unload_library(LibraryHandle) {}

#else

namespace {

// dlerror() returns the text of the last failure once and then null; a null text right
// after a failure means the loader gave no reason.
std::string loader_error(const char* operation) {
  const char* text = dlerror();
  if (text != nullptr) return text;
  return std::string(operation) + " failed, but the system did not report the error";
}

}  // namespace

std::string library_file_name(std::string_view name) {
#if defined(__APPLE__)
  return "lib" + std::string(name) + ".dylib";
#else
  return "lib" + std::string(name) + ".so";
#endif
}

Result<LibraryHandle> load_library(const std::filesystem::path& path) {
  dlerror();
  // Local binding keeps the engine's symbols out of the global scope, as a second copy of
  // the engine (another engine directory) must not resolve into the first one.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::string text = loader_error("dlopen");
    return fail(ErrorKind::engine, text, text);
  }
  return handle;
}

Result<void*> find_symbol(LibraryHandle library, const char* name) {
  dlerror();
  void* address = dlsym(library, name);
  if (address == nullptr) {
    std::string text = loader_error("dlsym");
    return fail(ErrorKind::engine, text, text);
  }
  return address;
}

void unload_library(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

#endif

LoadedLibrary& LoadedLibrary::operator=(LoadedLibrary&& other) noexcept {
  if (this != &other) {
    reset();
    handle_ = other.release();
  }
  return *this;
}

LibraryHandle LoadedLibrary::release() {
  return std::exchange(handle_, nullptr);
}

void LoadedLibrary::reset() {
  unload_library(handle_);
  handle_ = nullptr;
}

}  // namespace quorvel
