#include "translation/doc/package/xml.h"

#include <expat.h>
#include <fmt/core.h>

#include <climits>
#include <memory>
#include <string>

#include "platform/text.h"

namespace quorvel {
namespace {

struct ParseState {
  XML_Parser parser = nullptr;
  std::string_view xml;
  XmlHandler* handler = nullptr;
  std::string refusal;  // why parsing was stopped on purpose
};

ByteSpan current_span(XML_Parser parser) {
  auto begin = static_cast<std::size_t>(XML_GetCurrentByteIndex(parser));
  auto count = static_cast<std::size_t>(XML_GetCurrentByteCount(parser));
  return {begin, begin + count};
}

void refuse(ParseState& state, std::string why) {
  if (state.refusal.empty()) state.refusal = std::move(why);
  XML_StopParser(state.parser, XML_FALSE);
}

void on_start(void* user, const XML_Char* name, const XML_Char**) {
  auto& state = *static_cast<ParseState*>(user);
  ByteSpan tag = current_span(state.parser);
  bool self_closing = tag.end - tag.begin >= 2 && state.xml[tag.end - 2] == '/';
  state.handler->start(name, tag, self_closing);
}

void on_end(void* user, const XML_Char* name) {
  auto& state = *static_cast<ParseState*>(user);
  ByteSpan tag = current_span(state.parser);
  if (tag.begin == tag.end) return;  // the end of a self-closing tag, already reported
  state.handler->end(name, tag);
}

void on_text(void* user, const XML_Char* text, int length) {
  auto& state = *static_cast<ParseState*>(user);
  state.handler->text_at(std::string_view(text, static_cast<std::size_t>(length)),
                         current_span(state.parser));
}

void on_doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  refuse(*static_cast<ParseState*>(user), "document type declarations are not allowed");
}

void on_entity(void* user, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
               const XML_Char*, const XML_Char*, const XML_Char*) {
  refuse(*static_cast<ParseState*>(user), "entity declarations are not allowed");
}

// Bytes are spliced as they are, so a part in another encoding would be corrupted.
void on_declaration(void* user, const XML_Char*, const XML_Char* encoding, int) {
  if (encoding != nullptr && !equals_ascii_ci(encoding, "UTF-8")) {
    refuse(*static_cast<ParseState*>(user),
           fmt::format("the part is encoded in {}, not UTF-8", encoding));
  }
}

struct ParserDeleter {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

bool is_xml_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Characters XML 1.0 allows in content; anything else would make the part unreadable.
bool allowed_in_xml(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t start = pos;
    auto c = next_char(text, pos);
    if (!c) {
      out += "\xEF\xBF\xBD";  // a byte that is not UTF-8 becomes U+FFFD
      ++pos;
      continue;
    }
    switch (*c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (allowed_in_xml(*c)) out.append(text.substr(start, pos - start));
    }
  }
}

std::string_view raw_attribute(std::string_view tag, std::string_view name) {
  for (const auto& attribute : raw_attributes(tag)) {
    if (attribute.name == name && attribute.quoted_value.size() >= 2) {
      return attribute.quoted_value.substr(1, attribute.quoted_value.size() - 2);
    }
  }
  return {};
}

Result<void> parse_xml(std::string_view xml, XmlHandler& handler) {
  if (xml.size() > static_cast<std::size_t>(INT_MAX)) {
    return fail(ErrorKind::limit, "xml: the part is larger than 2 GiB");
  }
  // expat recognises UTF-16 and UTF-32 from the first bytes whatever encoding it was told.
  // Their "<" holds zero bytes, which UTF-8 XML never contains.
  if (xml.find('\0') != std::string_view::npos) {
    return fail(ErrorKind::format, "xml: the part is not encoded in UTF-8");
  }
  // Declaring the encoding up front makes expat read every part as UTF-8 whatever it says
  // of itself; a part that is really UTF-16 then fails as malformed.
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate("UTF-8"));
  if (!parser) return fail(ErrorKind::io, "xml: out of memory");
  ParseState state{parser.get(), xml, &handler, {}};
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), on_text);
  XML_SetStartDoctypeDeclHandler(parser.get(), on_doctype);
  XML_SetEntityDeclHandler(parser.get(), on_entity);
  XML_SetXmlDeclHandler(parser.get(), on_declaration);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

  auto status = XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE);
  if (status == XML_STATUS_OK) return {};
  if (!state.refusal.empty()) return fail(ErrorKind::format, "xml: " + state.refusal);
  return fail(ErrorKind::format,
              fmt::format("{}{} at line {} column {}", handler.in_text() ? "xml text: " : "xml: ",
                          XML_ErrorString(XML_GetErrorCode(parser.get())),
                          XML_GetCurrentLineNumber(parser.get()),
                          XML_GetCurrentColumnNumber(parser.get()) + 1));
}

std::vector<RawAttribute> raw_attributes(std::string_view tag) {
  std::vector<RawAttribute> attributes;
  std::size_t i = 1;  // past '<'
  auto skip_space = [&] {
    while (i < tag.size() && is_xml_space(tag[i])) ++i;
  };
  while (i < tag.size() && !is_xml_space(tag[i]) && tag[i] != '/' && tag[i] != '>') ++i;
  for (;;) {
    skip_space();
    if (i >= tag.size() || tag[i] == '/' || tag[i] == '>') break;
    std::size_t name_begin = i;
    while (i < tag.size() && !is_xml_space(tag[i]) && tag[i] != '=') ++i;
    std::string_view name = tag.substr(name_begin, i - name_begin);
    skip_space();
    if (i >= tag.size() || tag[i] != '=') break;
    ++i;
    skip_space();
    if (i >= tag.size()) break;
    char quote = tag[i];
    auto close = tag.find(quote, i + 1);
    if (close == std::string_view::npos) break;
    attributes.push_back({name, tag.substr(i, close + 1 - i)});
    i = close + 1;
  }
  return attributes;
}

}  // namespace quorvel
