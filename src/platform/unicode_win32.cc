#include "platform/unicode.h"
#include "platform/unicode_tables.h"

namespace quorvel {

bool is_white_space(char32_t c) {
  return unicode_tables::is_white_space(c);
}

bool is_alphabetic(char32_t c) {
  return unicode_tables::is_alphabetic(c);
}

char32_t to_lower(char32_t c) {
  return unicode_tables::to_lower(c);
}

Script script_of(char32_t c) {
  return unicode_tables::script_of(c);
}

}  // namespace quorvel
