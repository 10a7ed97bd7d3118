#include "platform/dynlib.h"

#include <utility>

namespace quorvel {

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
