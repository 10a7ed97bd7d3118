#pragma once
// The one table of document formats: each row names a format, the extensions that select it
// and its parser. The translate tools, the CLI and bench all choose a parser here; the
// parsed Document then carries what its writer needs (write_document in document.h).

#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "translation/doc/document.h"

namespace quorvel {

struct FileFormat {
  std::string_view name;                         // as the README lists it: DOCX, PPTX, ...
  std::span<const std::string_view> extensions;  // lower case, without the dot
  Result<Document> (*parse)(const std::string& path);
};

/// Every format, in the order the README lists them.
std::span<const FileFormat> file_formats();

/// The format of a (lower-cased) extension, or nullptr.
const FileFormat* format_for_extension(std::string_view extension);

}  // namespace quorvel
