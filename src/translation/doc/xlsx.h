#pragma once
// Excel workbooks (XLSX packages): the shared strings (plain and rich-text items), the inline
// strings of each worksheet, and the comments with their threaded replies. A shared string
// is one segment however many cells show it. Formulas, numbers, dates, defined names and
// sheet names are never read: renaming a sheet would break the formulas that refer to it.

#include "translation/doc/package/package.h"

namespace quorvel {

extern const PackageFormat XLSX_FORMAT;

/// The part readers, for tests and fuzzing: shared strings and worksheets (their <si> and
/// <is> items), legacy comments, threaded comments.
extern const PartReader XLSX_STRINGS_PART;
extern const PartReader XLSX_COMMENTS_PART;
extern const PartReader XLSX_THREADED_PART;

}  // namespace quorvel
