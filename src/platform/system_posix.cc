#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "platform/system.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quorvel {

unsigned logical_processor_count() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 0;
}

void ignore_write_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void use_binary_standard_streams() {}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  return {argv, argv + argc};
}

namespace {
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

std::optional<uint64_t> available_memory() {
  std::ifstream info("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  std::string unit;
  while (info >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib * 1024;
  }
  return std::nullopt;
}

std::vector<std::string> loaded_libraries() {
  std::vector<std::string> paths;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    auto slash = line.find('/');
    if (slash == std::string::npos || line.find(".so", slash) == std::string::npos) continue;
    std::string path = line.substr(slash);
    if (paths.empty() || paths.back() != path) paths.push_back(path);
  }
  return paths;
}

bool stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void block_stop_signals() {
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int wait_stop_signal() {
  sigset_t set = stop_signals();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  return signal;
}

void die_of_signal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  std::_Exit(128 + signal);
}

void return_large_blocks_to_system() {
#if defined(__GLIBC__)
  // glibc's default threshold, fixed: setting it turns the dynamic adjustment off.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  // Fixing it also leaves the trim threshold at 128 KiB, below the ~170 KiB of small blocks
  // each language detection takes and frees: every detection would hand those pages back and
  // fault them in again (about 20 times its own cost).
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
#endif
}

}  // namespace quorvel
