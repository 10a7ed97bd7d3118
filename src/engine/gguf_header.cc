#include "engine/gguf_header.h"

#include <fmt/core.h>

#include <fstream>
#include <optional>

namespace quorvel {

namespace {

// A header key or string longer than this is taken as damage, not read.
constexpr uint64_t MAX_STRING = 1 << 20;
constexpr uint64_t MAX_ARRAY = uint64_t{1} << 32;

enum GgufType : uint32_t {
  UINT8 = 0,
  INT8,
  UINT16,
  INT16,
  UINT32,
  INT32,
  FLOAT32,
  BOOL,
  STRING,
  ARRAY,
  UINT64,
  INT64,
  FLOAT64,
};

class Reader {
 public:
  explicit Reader(std::ifstream& in) : in_(in) {}

  template <class T>
  std::optional<T> number() {
    T value{};
    if (!in_.read(reinterpret_cast<char*>(&value), sizeof value)) return std::nullopt;
    return value;
  }
  std::optional<std::string> string() {
    auto size = number<uint64_t>();
    if (!size || *size > MAX_STRING) return std::nullopt;
    std::string text(static_cast<std::size_t>(*size), '\0');
    if (!in_.read(text.data(), static_cast<std::streamsize>(text.size()))) return std::nullopt;
    return text;
  }
  bool skip(uint64_t bytes) {
    in_.seekg(static_cast<std::streamoff>(bytes), std::ios::cur);
    return static_cast<bool>(in_);
  }
  // Steps over one value of `type`.
  bool skip_value(uint32_t type, int depth = 0) {
    switch (type) {
      case UINT8:
      case INT8:
      case BOOL:
        return skip(1);
      case UINT16:
      case INT16:
        return skip(2);
      case UINT32:
      case INT32:
      case FLOAT32:
        return skip(4);
      case UINT64:
      case INT64:
      case FLOAT64:
        return skip(8);
      case STRING: {
        auto size = number<uint64_t>();
        return size && *size <= MAX_STRING && skip(*size);
      }
      case ARRAY: {
        auto element = number<uint32_t>();
        auto count = number<uint64_t>();
        if (!element || !count || *count > MAX_ARRAY || depth > 0) return false;
        for (uint64_t i = 0; i < *count; ++i) {
          if (!skip_value(*element, depth + 1)) return false;
        }
        return true;
      }
      default:
        return false;
    }
  }

 private:
  std::ifstream& in_;
};

}  // namespace

Result<GgufHeader> read_gguf_header(const std::string& path) {
  auto not_gguf = [&] {
    return fail(ErrorKind::format, fmt::format("{} is not a GGUF file", path));
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(ErrorKind::io, fmt::format("reading {}", path));
  Reader reader(in);
  char magic[4];
  if (!in.read(magic, 4) || std::string_view(magic, 4) != "GGUF") return not_gguf();
  GgufHeader header;
  auto version = reader.number<uint32_t>();
  auto tensors = reader.number<uint64_t>();
  auto pairs = reader.number<uint64_t>();
  if (!version || !tensors || !pairs) return not_gguf();
  header.version = *version;
  header.tensor_count = *tensors;
  for (uint64_t i = 0; i < *pairs; ++i) {
    auto key = reader.string();
    auto type = reader.number<uint32_t>();
    if (!key || !type) return not_gguf();
    if (*key == "general.architecture" && *type == STRING) {
      auto value = reader.string();
      if (!value) return not_gguf();
      header.architecture = *value;
      return header;
    }
    if (!reader.skip_value(*type)) return not_gguf();
  }
  return header;
}

}  // namespace quorvel
