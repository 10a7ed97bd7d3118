#include "platform/unicode_tables.h"

#include <algorithm>
#include <span>

namespace quorvel::unicode_tables {
namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

struct ScriptRange {
  char32_t first;
  char32_t last;
  int script;
};

struct CaseRange {
  char32_t first;
  char32_t last;
  int delta;  // lowercase minus code point
};

#include "platform/unicode_tables.inc"

// The range holding `c`, or null; every table is sorted and without overlaps.
template <class Range>
const Range* find(std::span<const Range> table, char32_t c) {
  auto it = std::upper_bound(table.begin(), table.end(), c,
                             [](char32_t value, const Range& r) { return value < r.first; });
  if (it == table.begin()) return nullptr;
  --it;
  return c <= it->last ? &*it : nullptr;
}

}  // namespace

bool is_white_space(char32_t c) {
  return find<CodeRange>(WHITE_SPACE, c) != nullptr;
}

bool is_alphabetic(char32_t c) {
  return find<CodeRange>(ALPHABETIC, c) != nullptr;
}

char32_t to_lower(char32_t c) {
  const CaseRange* r = find<CaseRange>(LOWERCASE, c);
  return r ? static_cast<char32_t>(static_cast<int>(c) + r->delta) : c;
}

Script script_of(char32_t c) {
  const ScriptRange* r = find<ScriptRange>(SCRIPTS, c);
  return r ? static_cast<Script>(r->script) : Script::unknown;
}

}  // namespace quorvel::unicode_tables
