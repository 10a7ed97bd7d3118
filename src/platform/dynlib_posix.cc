#include <dlfcn.h>

#include "platform/dynlib.h"

namespace quorvel {

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

}  // namespace quorvel
