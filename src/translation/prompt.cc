#include "translation/prompt.h"

#include <fmt/format.h>

#include <iterator>

#include "platform/text.h"
#include "translation/detect.h"
#include "translation/languages.h"

namespace quorvel {

namespace {

constexpr std::string_view INSTRUCTION =
    "You are a professional {0} ({1}) to {2} ({3}) translator. Your goal is to accurately "
    "convey the meaning and nuances of the original {0} text while adhering to {2} grammar, "
    "vocabulary, and cultural sensitivities.\n"
    "Produce only the {2} translation, without any additional explanations or commentary. "
    "Please translate the following {0} text into {2}:\n\n\n{4}";

// The model's chat turn around the instruction.
constexpr std::string_view TURN_START = "<start_of_turn>user\n";
constexpr std::string_view TURN_END = "<end_of_turn>\n<start_of_turn>model\n";

struct PromptLanguage {
  std::string_view name;
  std::string_view code;
};

PromptLanguage source_language(std::string_view source_tag) {
  std::string_view code = canonical_language_tag(source_tag).value_or("en");
  return {translategemma_language_name(code).value_or("English"), code};
}

// Targets the model's own table lacks keep their tag and take the name clients see.
PromptLanguage target_language(std::string_view target) {
  if (auto code = canonical_language_tag(target)) {
    return {translategemma_language_name(*code).value_or(*code), *code};
  }
  return {target_language_name(target).value_or(target), target};
}

}  // namespace

std::string build_prompt(const TranslationRequest& request, std::string_view text) {
  const std::string source_tag = source_tag_for(request, text);
  const PromptLanguage source = source_language(source_tag);
  const PromptLanguage target = target_language(request.target);
  // Written once into a string of the right size: a paragraph may be hundreds of megabytes,
  // and formatting in steps would hold several copies of it at once.
  const std::string_view body = trim(text);
  std::string prompt;
  prompt.reserve(TURN_START.size() + INSTRUCTION.size() +
                 3 * (source.name.size() + target.name.size()) + source.code.size() +
                 target.code.size() + body.size() + TURN_END.size());
  prompt += TURN_START;
  fmt::format_to(std::back_inserter(prompt), INSTRUCTION, source.name, source.code, target.name,
                 target.code, body);
  // The instruction starts with a word; only its end may need trimming (an empty text).
  const std::string_view instruction = std::string_view(prompt).substr(TURN_START.size());
  prompt.resize(TURN_START.size() + trim(instruction).size());
  prompt += TURN_END;
  return prompt;
}

}  // namespace quorvel
