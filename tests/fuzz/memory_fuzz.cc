// The translation memory's file as anything that may sit in its place: damaged pages, another
// program's database, our own schema with rows of the wrong types, sizes or keys. Seeded with
// small databases of our schema and of foreign ones.
// Checks: opening, reading and writing never crash or hang; when the memory still works after
// a write, the answer written is the one read back; the file in place afterwards is a
// database this memory opens again.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "translation/memory.h"

namespace {

quorvel::MemoryKey key_of(unsigned char first) {
  quorvel::MemoryKey key{};
  key[0] = first;
  return key;
}

std::FILE* quiet() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(quorvel::fuzz::scratch_dir()) / "memory";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / quorvel::MEMORY_FILE_NAME;
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  {
    // A small bound, so that eviction runs over whatever rows the file holds.
    auto memory = quorvel::TranslationMemory::open(file, quiet(), 4096);
    if (memory) {
      for (unsigned char first : {0, 1, 0x41, 0xff}) (void)memory->find(key_of(first));
      const quorvel::MemoryKey fresh = key_of(0x7f);
      memory->store(fresh, "answer");
      memory->store(key_of(0x80), std::string(3000, 'x'));
      if (auto found = memory->find(fresh)) FUZZ_CHECK(*found == "answer");
    }
  }
  // Whatever happened, the file in place now opens as a working memory.
  {
    auto again = quorvel::TranslationMemory::open(file, quiet(), 4096);
    if (again) {
      again->store(key_of(0x10), "kept");
      auto found = again->find(key_of(0x10));
      FUZZ_CHECK(!found || *found == "kept");
    }
  }
  return 0;
}
