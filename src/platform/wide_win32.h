#pragma once
// UTF-8 <-> UTF-16 for the Windows files of this folder: the program keeps text in UTF-8,
// the system's wide-character calls take UTF-16.

#include <string>
#include <string_view>

namespace quorvel {

/// UTF-16 of UTF-8 text; invalid bytes become U+FFFD.
std::wstring to_wide(std::string_view utf8);

/// UTF-8 of UTF-16 text; unpaired surrogates become U+FFFD.
std::string from_wide(std::wstring_view wide);

/// The system's text for error code `code` (GetLastError), without the trailing line break.
std::string system_message(unsigned long code);

}  // namespace quorvel
