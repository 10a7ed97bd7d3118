#pragma once
// Unicode properties looked up in tables generated from ICU (unicode_tables.inc). Windows
// builds answer unicode.h from these; they are built everywhere so that the tests can hold
// them against ICU itself.

#include "platform/unicode.h"

namespace quorvel::unicode_tables {

bool is_white_space(char32_t c);
bool is_alphabetic(char32_t c);
char32_t to_lower(char32_t c);
Script script_of(char32_t c);

}  // namespace quorvel::unicode_tables
