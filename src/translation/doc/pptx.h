#pragma once
// PowerPoint presentations (PPTX packages): the slides in presentation order, then their
// notes pages. Every DrawingML paragraph (<a:p>) of those parts is a paragraph: text boxes,
// tables and grouped shapes alike. Slide masters and layouts (template text) are not read,
// nor are charts, diagrams and comments.

#include "translation/doc/package/package.h"

namespace quorvel {

extern const PackageFormat PPTX_FORMAT;

/// The part reader of slides and notes pages, for tests and fuzzing.
extern const PartReader PPTX_SLIDE_PART;

}  // namespace quorvel
