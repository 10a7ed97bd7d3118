// The generated tables against the ICU they came from, for every code point: builds without
// ICU answer from the tables, and must answer as ICU does.
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "platform/unicode_tables.h"

namespace quorvel {
namespace {

TEST(UnicodeTables, AgreeWithIcuOnEveryCodePoint) {
  int mismatches = 0;
  for (UChar32 c = 0; c <= 0x10FFFF && mismatches < 10; ++c) {
    const auto cp = static_cast<char32_t>(c);
    UErrorCode status = U_ZERO_ERROR;
    const int script = uscript_getScript(c, &status);
    const bool agree =
        unicode_tables::is_white_space(cp) == static_cast<bool>(u_isUWhiteSpace(c)) &&
        unicode_tables::is_alphabetic(cp) ==
            static_cast<bool>(u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) &&
        unicode_tables::to_lower(cp) == static_cast<char32_t>(u_tolower(c)) &&
        static_cast<int>(unicode_tables::script_of(cp)) == script;
    if (!agree) {
      ++mismatches;
      ADD_FAILURE() << "U+" << std::hex << c;
    }
  }
}

}  // namespace
}  // namespace quorvel
