#pragma once
// OpenDocument text, spreadsheets and presentations (ODT, ODS, ODP packages): one reader for
// the three, as they share their text markup. content.xml and styles.xml (headers, footers,
// master pages) are read: every <text:p> and <text:h> with its spans, links, spaces, tabs
// and line breaks; notes, annotations and frames in a paragraph are kept whole as
// placeholders while their own paragraphs are translated in place. Spreadsheet cells that
// hold a number, a date or a formula are left alone, and so are the names of tables, frames
// and pages (attributes, never read). The mimetype entry is written uncompressed.

#include "translation/doc/package/package.h"

namespace quorvel {

extern const PackageFormat ODT_FORMAT;
extern const PackageFormat ODS_FORMAT;
extern const PackageFormat ODP_FORMAT;

/// The part reader of content.xml and styles.xml, for tests and fuzzing.
extern const PartReader ODF_PART;

}  // namespace quorvel
