#pragma once
// The XML reading shared by the package formats' extraction and write-back: expat over a
// whole part held in memory, reporting each tag with its byte span in that buffer, so that a writer
// can copy the original bytes and splice in only what it changes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace quorvel {

/// A tag's bytes are xml.substr(begin, end - begin).
struct ByteSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  /// Start tags and self-closing tags; a self-closing tag gets no end() call.
  virtual void start(std::string_view name, ByteSpan tag, bool self_closing) = 0;
  virtual void end(std::string_view name, ByteSpan tag) = 0;
  /// Character data with references and entities decoded, possibly in several pieces.
  virtual void text(std::string_view decoded) = 0;
  /// The same, with the bytes the piece was decoded from; by default only text() is called.
  virtual void text_at(std::string_view decoded, ByteSpan) { text(decoded); }
  /// Whether the handler is inside text it decodes; parse errors there read "xml text: ".
  virtual bool in_text() const { return false; }
};

/// Parses one complete part. Only UTF-8 is accepted, so that bytes can be spliced as they
/// are, and document type declarations are refused, so that entity expansion (entity bombs,
/// external entities) never happens. Errors read "xml: {what} at line L column C".
Result<void> parse_xml(std::string_view xml, XmlHandler& handler);

/// A start tag's attributes as written, name then raw value with its quotes: `a="1"`.
struct RawAttribute {
  std::string_view name;
  std::string_view quoted_value;
};

/// The value of attribute `name` of a start tag as written (references not decoded), or
/// empty when the tag has none.
std::string_view raw_attribute(std::string_view tag, std::string_view name);

/// Appends `text` escaped for XML content or attribute values: the five predefined entities,
/// U+FFFD for bytes that are not UTF-8, and characters XML 1.0 cannot hold left out.
void append_escaped(std::string& out, std::string_view text);

/// Splits a well-formed start tag such as `<w:t xml:space="preserve">` into attributes.
std::vector<RawAttribute> raw_attributes(std::string_view tag);

}  // namespace quorvel
