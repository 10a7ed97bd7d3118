#include "server/catalogue.h"

#include <fmt/core.h>

#include "translation/languages.h"

namespace quorvel {

namespace {

Json string_property(const std::string& description) {
  return {{"type", "string"}, {"description", description}};
}

}  // namespace

std::vector<ToolDefinition> tool_definitions() {
  const std::string to_description =
      fmt::format("Target language tag, one of: {}. Use the tag, not the name.", target_tag_list());
  return {
      {"translate_file",
       "Translate a document (docx, srt, vtt, txt, md) into another language, preserving "
       "formatting, and write the translated file. Runs fully offline using the local model. "
       "Returns the output path.",
       {{"type", "object"},
        {"properties",
         {{"path", string_property("Absolute path of the document.")},
          {"to", string_property(to_description)},
          {"output_path", string_property("Where to write the translated file. Default: next to "
                                          "the input as name.<lang>.<ext>.")}}},
        {"required", {"path", "to"}}}},
      {"translate_text",
       "Translate a snippet of plain text (up to a few paragraphs) into another language and "
       "return it. Runs fully offline.",
       {{"type", "object"},
        {"properties",
         {{"text", string_property("The text to translate.")},
          {"to", string_property(to_description)}}},
        {"required", {"text", "to"}}}},
  };
}

McpServer make_server() {
  return McpServer{
      tool_definitions(),
      "quorvel-translate",
      "0.1.0",
      "Quorvel Translate translates documents (docx, srt, vtt, txt, md) and plain text between 27 "
      "languages locally on this machine, formatting preserved. Nothing is uploaded. Pass "
      "absolute file paths.",
      ToolHandler{{}, remote_backend_from_env(), {}},
  };
}

}  // namespace quorvel
