#pragma once
// Shared libraries loaded at run time. The only place that talks to the system loader, so
// the rest of the program never sees <dlfcn.h> (or its Windows counterpart).

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quorvel {

/// An opaque handle of a loaded library.
using LibraryHandle = void*;

/// The platform's file name of the library `name`: "lib{name}.so" on Linux, "{name}.dll" on
/// Windows.
std::string library_file_name(std::string_view name);

/// Loads the library at `path`, resolving its own dependencies from its directory (through
/// its run path). On failure the message is the loader's own text.
Result<LibraryHandle> load_library(const std::filesystem::path& path);

/// The address of the exported symbol `name` of `library` or of the libraries it depends
/// on. On failure the message is the loader's own text.
Result<void*> find_symbol(LibraryHandle library, const char* name);

/// Drops one reference to a loaded library.
void unload_library(LibraryHandle library);

/// Owns one reference to a loaded library and drops it when destroyed, unless released.
class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  explicit LoadedLibrary(LibraryHandle handle) : handle_(handle) {}
  LoadedLibrary(LoadedLibrary&& other) noexcept : handle_(other.release()) {}
  LoadedLibrary& operator=(LoadedLibrary&& other) noexcept;
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary() { reset(); }

  LibraryHandle get() const { return handle_; }
  /// Gives up ownership: the library then stays loaded.
  LibraryHandle release();
  void reset();

 private:
  LibraryHandle handle_ = nullptr;
};

}  // namespace quorvel
