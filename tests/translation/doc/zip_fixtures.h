#pragma once
// Zip packages for DOCX tests: written with libzip, read back with every entry's metadata,
// and hand-made ones whose directory records sizes that the data does not have.

#include <zip.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quorvel::testing {

struct ZipItem {
  std::string name;
  std::string data;
  bool stored = false;  // written without compression
};

inline void write_zip(const std::string& path, const std::vector<ZipItem>& items) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("zip_open failed");
  for (const auto& item : items) {
    zip_source_t* source = zip_source_buffer(archive, item.data.data(), item.data.size(), 0);
    zip_int64_t index = zip_file_add(archive, item.name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) throw std::runtime_error("zip_file_add failed");
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                             item.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9);
  }
  if (zip_close(archive) != 0) throw std::runtime_error("zip_close failed");
}

struct ZipRecord {
  std::string name;
  std::string data;
  std::uint16_t method = 0;
  time_t mtime = 0;
  std::uint8_t opsys = 0;
  std::uint32_t attributes = 0;
};

inline std::vector<ZipRecord> read_zip(const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (archive == nullptr) throw std::runtime_error("cannot open zip " + path);
  std::vector<ZipRecord> records;
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_index(archive, index, ZIP_FL_ENC_RAW, &st);
    ZipRecord record;
    record.name = st.name;
    record.method = st.comp_method;
    record.mtime = st.mtime;
    zip_file_get_external_attributes(archive, index, 0, &record.opsys, &record.attributes);
    record.data.resize(st.size);
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (file == nullptr ||
        zip_fread(file, record.data.data(), st.size) != static_cast<zip_int64_t>(st.size)) {
      throw std::runtime_error("cannot read " + record.name);
    }
    zip_fclose(file);
    records.push_back(std::move(record));
  }
  zip_discard(archive);
  return records;
}

/// An entry stored without compression whose directory records `recorded_size` as its
/// uncompressed size and `recorded_compressed` as its compressed size (by default, what
/// the data really has).
struct RawZipItem {
  std::string name;
  std::string data;
  std::uint32_t recorded_size = 0;
  std::uint32_t recorded_compressed = 0;
  std::uint16_t method = 0;
};

inline std::uint32_t crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void write_raw_zip(const std::string& path, const std::vector<RawZipItem>& items) {
  auto u16 = [](std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  };
  auto u32 = [&](std::string& out, std::uint32_t v) {
    u16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    u16(out, static_cast<std::uint16_t>(v >> 16));
  };
  std::string file;
  std::string directory;
  for (const auto& item : items) {
    auto offset = static_cast<std::uint32_t>(file.size());
    auto name_length = static_cast<std::uint16_t>(item.name.size());
    u32(file, 0x04034b50);
    u16(file, 20);
    u16(file, 0);
    u16(file, item.method);
    u16(file, 0);
    u16(file, 0x21);
    u32(file, crc32(item.data));
    u32(file, item.recorded_compressed);
    u32(file, item.recorded_size);
    u16(file, name_length);
    u16(file, 0);
    file += item.name;
    file += item.data;

    u32(directory, 0x02014b50);
    u16(directory, 20);
    u16(directory, 20);
    u16(directory, 0);
    u16(directory, item.method);
    u16(directory, 0);
    u16(directory, 0x21);
    u32(directory, crc32(item.data));
    u32(directory, item.recorded_compressed);
    u32(directory, item.recorded_size);
    u16(directory, name_length);
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0);
    u32(directory, 0);
    u32(directory, offset);
    directory += item.name;
  }
  auto directory_offset = static_cast<std::uint32_t>(file.size());
  file += directory;
  u32(file, 0x06054b50);
  u16(file, 0);
  u16(file, 0);
  u16(file, static_cast<std::uint16_t>(items.size()));
  u16(file, static_cast<std::uint16_t>(items.size()));
  u32(file, static_cast<std::uint32_t>(directory.size()));
  u32(file, directory_offset);
  u16(file, 0);
  write_bytes(path, file);
}

/// A main document part around the given body XML.
inline std::string document_xml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
         "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
         "<w:body>" +
         body + "</w:body></w:document>";
}

inline std::string paragraph(const std::string& text) {
  return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>";
}

}  // namespace quorvel::testing
