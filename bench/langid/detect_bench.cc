// Time of one source-language detection, with the heap set up as the server sets it or left
// as glibc starts.
//
//   detect_bench (default|server) SET.tsv [ROUNDS]
//
// "server" makes the start-up call of the server (return_large_blocks_to_system) first;
// "default" leaves glibc's adaptive thresholds. Every text of the set is detected ROUNDS
// times (default 20), after one warm-up round, on a thread of its own as the server's worker
// detects (a thread other than the first allocates from an arena of its own). Prints one JSON
// object with the mean and median microseconds per call and the minor page faults per call,
// which show memory being handed back to the system and taken again.

#include <fmt/core.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "translation/detect.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> read_texts(const char* path) {
  std::vector<std::string> texts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto second = line.find('\t', line.find('\t') + 1);
    if (second != std::string::npos) texts.push_back(line.substr(second + 1));
  }
  return texts;
}

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void run(const char* mode, const std::vector<std::string>& texts, int rounds) {
  std::size_t found = 0;
  for (const auto& text : texts) found += quorvel::detect_source_language(text).has_value();

  std::vector<double> per_call;
  per_call.reserve(texts.size() * static_cast<std::size_t>(rounds));
  long faults_before = minor_faults();
  auto all_start = Clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (const auto& text : texts) {
      auto start = Clock::now();
      found += quorvel::detect_source_language(text).has_value();
      per_call.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  double total_us = std::chrono::duration<double, std::micro>(Clock::now() - all_start).count();
  long faults = minor_faults() - faults_before;

  std::sort(per_call.begin(), per_call.end());
  fmt::print(
      "{{\"mode\":\"{}\",\"calls\":{},\"mean_us\":{:.2f},\"median_us\":{:.2f},"
      "\"p90_us\":{:.2f},\"minor_faults_per_call\":{:.2f},\"found\":{}}}\n",
      mode, per_call.size(), total_us / static_cast<double>(per_call.size()),
      per_call[per_call.size() / 2], per_call[per_call.size() * 9 / 10],
      static_cast<double>(faults) / static_cast<double>(per_call.size()), found);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fmt::print(stderr, "usage: detect_bench (default|server) SET.tsv [ROUNDS]\n");
    return 2;
  }
  if (std::strcmp(argv[1], "server") == 0) quorvel::return_large_blocks_to_system();
  auto texts = read_texts(argv[2]);
  int rounds = argc > 3 ? std::atoi(argv[3]) : 20;
  if (texts.empty() || rounds <= 0) return 2;
  std::thread worker([&] { run(argv[1], texts, rounds); });
  worker.join();
  return 0;
}
