#include <fmt/core.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <fstream>
#include <vector>

#include "platform/digest.h"

namespace quorvel {

std::string file_sha256(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return {};
  }
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  while (ok &&
         (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)) {
    ok = BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.data()),
                        static_cast<ULONG>(in.gcount()), 0) == 0;
  }
  unsigned char digest[32];
  ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!ok) return {};
  std::string hex;
  for (unsigned char byte : digest) hex += fmt::format("{:02x}", byte);
  return hex;
}

}  // namespace quorvel
