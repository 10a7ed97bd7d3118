#include "server/catalogue.h"

#include <gtest/gtest.h>

#include "server/jsonrpc.h"

namespace quorvel {
namespace {

constexpr const char* TO_DESCRIPTION =
    "Target language tag, one of: ar, bn, my, yue, zh, cs, nl, en, tl, fr, de, gu, he, hi, id, "
    "it, ja, kk, km, ko, ms, mr, mn, fa, pl, pt, ru, es, ta, te, th, bo, zh-TW, tr, uk, ur, ug, "
    "vi. Use the tag, not the name.";

TEST(Catalogue, ListsBothToolsInOrderWithExactSchemas) {
  auto tools = tool_definitions();
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_EQ(tools[0].name, "translate_file");
  EXPECT_EQ(tools[1].name, "translate_text");
  EXPECT_EQ(serialize(tools[1].input_schema),
            std::string(R"({"properties":{"text":{"description":"The text to translate.","type":"string"},"to":{"description":")") +
                TO_DESCRIPTION + R"(","type":"string"}},"required":["text","to"],"type":"object"})");
  EXPECT_EQ(serialize(tools[0].input_schema),
            std::string(R"({"properties":{"output_path":{"description":"Where to write the translated file. Default: next to the input as name.<lang>.<ext>.","type":"string"},"path":{"description":"Absolute path of the document.","type":"string"},"to":{"description":")") +
                TO_DESCRIPTION + R"(","type":"string"}},"required":["path","to"],"type":"object"})");
}

}  // namespace
}  // namespace quorvel
