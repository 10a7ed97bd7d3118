#include "platform/system.h"

#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
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

}  // namespace quorvel
