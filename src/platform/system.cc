#include "platform/system.h"

#include <thread>

#if !defined(_WIN32)
#include <unistd.h>

#include <csignal>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quorvel {

unsigned logical_processor_count() {
#if defined(_WIN32)
  return std::thread::hardware_concurrency();
#else
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 0;
#endif
}

void ignore_write_signals() {
#if !defined(_WIN32)
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void return_large_blocks_to_system() {
#if defined(__GLIBC__)
  // glibc's default threshold, fixed: setting it turns the dynamic adjustment off.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace quorvel
