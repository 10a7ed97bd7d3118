#pragma once
// Checksums of files, from the system's own cryptography (OpenSSL's libcrypto on Linux,
// CNG on Windows).

#include <filesystem>
#include <string>

namespace quorvel {

/// The SHA-256 of the file's content in lower-case hex; empty when it cannot be read.
std::string file_sha256(const std::filesystem::path& file);

}  // namespace quorvel
