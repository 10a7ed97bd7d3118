#include "server/mcp_server.h"

#include <gtest/gtest.h>

#include <sstream>

#include "server/catalogue.h"

namespace quorvel {
namespace {

std::string run(const std::string& input) {
  McpServer server = make_server();
  std::istringstream in(input);
  std::ostringstream out;
  run_server(server, in, out);
  return out.str();
}

struct Exchange {
  std::string input;     // one input line, without its line end
  std::string expected;  // the exact output, empty when the line gets no reply
};

TEST(McpServer, AnswersEachLineExactly) {
  const std::vector<Exchange> cases = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"id":1,"jsonrpc":"2.0","result":{}})"},
      {R"({"jsonrpc":"2.0","id":"a","method":"tools/call","params":{"name":"x"}})",
       R"({"error":{"code":-32602,"message":"unknown tool: x"},"id":"a","jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":7,"method":"resources/list"})",
       R"({"id":7,"jsonrpc":"2.0","result":{"resources":[]}})"},
      {R"({"jsonrpc":"2.0","id":8,"method":"prompts/list"})",
       R"({"id":8,"jsonrpc":"2.0","result":{"prompts":[]}})"},
      {R"({"jsonrpc":"2.0","method":"ping"})", ""},
      {R"({"jsonrpc":"2.0","id":null,"method":"nope"})", ""},
      {R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"translate_text"}})", ""},
      {"", ""},
      {" \t ", ""},
      {"\xC2\xA0", ""},  // a no-break space is white space too
      {"[1,2]", ""},
      {"{}", ""},
      {R"("ping")", ""},
      {"x",
       R"({"error":{"code":-32700,"message":"parse error: expected value at line 1 column 1"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"id":1,"method":"ping"} x)",
       R"({"error":{"code":-32700,"message":"parse error: trailing characters at line 1 column 26"},"id":null,"jsonrpc":"2.0"})"},
      // A line cut short is an end-of-input failure, not trailing text.
      {R"({"id":1,"method":)",
       R"({"error":{"code":-32700,"message":"parse error: EOF while parsing a value at line 1 column 17"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"id":1)",
       R"({"error":{"code":-32700,"message":"parse error: EOF while parsing an object at line 1 column 7"},"id":null,"jsonrpc":"2.0"})"},
      {R"(  {"id":2,"method":"ping"}  )", R"({"id":2,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":3,"method":"Ping"})",
       R"({"error":{"code":-32601,"message":"method not found: Ping"},"id":3,"jsonrpc":"2.0"})"},
      {R"({"id":4})",
       R"({"error":{"code":-32601,"message":"method not found: "},"id":4,"jsonrpc":"2.0"})"},
      {R"({"id":5,"method":"tools/call"})",
       R"({"error":{"code":-32602,"message":"unknown tool: "},"id":5,"jsonrpc":"2.0"})"},
      {R"({"id":6,"method":"tools/call","params":{"name":7}})",
       R"({"error":{"code":-32602,"message":"unknown tool: "},"id":6,"jsonrpc":"2.0"})"},
      {R"({"id":9,"method":"tools/call","params":{"name":"Translate_text"}})",
       R"({"error":{"code":-32602,"message":"unknown tool: Translate_text"},"id":9,"jsonrpc":"2.0"})"},
      // Arguments missing: the handler gets an empty object; null stays null.
      {R"({"id":10,"method":"tools/call","params":{"name":"translate_text"}})",
       R"({"id":10,"jsonrpc":"2.0","result":{"content":[{"text":"missing required argument: text","type":"text"}],"isError":true}})"},
      {R"({"id":11,"method":"tools/call","params":{"name":"translate_file","arguments":null}})",
       R"({"id":11,"jsonrpc":"2.0","result":{"content":[{"text":"missing required argument: path","type":"text"}],"isError":true}})"},
  };
  for (const auto& c : cases) {
    std::string expected = c.expected.empty() ? "" : c.expected + "\n";
    EXPECT_EQ(run(c.input + "\n"), expected) << "input: " << c.input;
  }
}

TEST(McpServer, EchoesIdsOfEveryType) {
  for (std::string id : {"0", "-5", "2.5", R"("x")", "true", "[1]", R"({"k":1})", "18446744073709551615"}) {
    EXPECT_EQ(run(R"({"method":"ping","id":)" + id + "}\n"),
              R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{}})" "\n")
        << id;
  }
}

TEST(McpServer, InitializeEchoesStringProtocolVersionOnly) {
  const std::string tail =
      R"(,"serverInfo":{"name":"quorvel-translate","version":"0.1.0"}}})" "\n";
  const std::string head =
      R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{"listChanged":false}},"instructions":"Quorvel Translate translates documents (docx, srt, vtt, txt, md) and plain text between 27 languages locally on this machine, formatting preserved. Nothing is uploaded. Pass absolute file paths.","protocolVersion":)";
  EXPECT_EQ(run(R"({"id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})" "\n"),
            head + R"("2024-11-05")" + tail);
  for (std::string params : {R"(,"params":{"protocolVersion":5})", "", R"(,"params":[1])"}) {
    EXPECT_EQ(run(R"({"id":1,"method":"initialize")" + params + "}\n"),
              head + R"("2025-06-18")" + tail)
        << params;
  }
}

TEST(McpServer, LineEndingsAndEndOfInput) {
  const std::string pong = R"({"id":1,"jsonrpc":"2.0","result":{}})" "\n";
  const std::string ping = R"({"id":1,"method":"ping"})";
  EXPECT_EQ(run(ping + "\r\n"), pong);
  EXPECT_EQ(run(ping), pong);  // last line without a line feed
  EXPECT_EQ(run("\n\n" + ping + "\n\n"), pong);
  EXPECT_EQ(run(""), "");
  // Invalid UTF-8 ends the loop: neither that line nor any later one is answered.
  EXPECT_EQ(run(ping + "\n{\"id\":2,\"method\":\"\xFF\"}\n" + ping + "\n"), pong);
}

TEST(McpServer, OversizedLineIsRefusedAndTheLoopGoesOn) {
  McpServer server = make_server();
  const std::string ping = R"({"id":1,"method":"ping"})";
  for (std::size_t size : {0, 976, 977, 5000, 200000}) {
    std::istringstream in(std::string(size, ' ') + ping + "\n" + ping + "\n");
    std::ostringstream out;
    run_server(server, in, out, 1000);
    const std::string pong = R"({"id":1,"jsonrpc":"2.0","result":{}})" "\n";
    const std::string refused =
        R"({"error":{"code":-32700,"message":"parse error: line longer than 1000 bytes"},"id":null,"jsonrpc":"2.0"})"
        "\n";
    EXPECT_EQ(out.str(), (size + ping.size() > 1000 ? refused : pong) + pong) << size;
  }
}

// A line of a million tiny values would take forty times its size in memory.
TEST(McpServer, MessagesOfMoreThanAMillionValuesAreRefused) {
  // The message's own structure counts seven: the object, three keys, two values, the array.
  auto line_of = [](std::size_t values) {
    std::string zeros;
    for (std::size_t i = 8; i < values; ++i) zeros += "0,";
    return R"({"id":1,"method":"ping","params":[)" + zeros + "0]}\n";
  };
  const std::string pong = R"({"id":1,"jsonrpc":"2.0","result":{}})" "\n";
  EXPECT_EQ(run(line_of(1'000'000)), pong);
  EXPECT_EQ(run(line_of(1'000'001) + line_of(10)),
            R"({"error":{"code":-32700,"message":"parse error: more than 1000000 values in one message"},"id":null,"jsonrpc":"2.0"})"
            "\n" + pong);
}

TEST(McpServer, DeepNestingIsAParseErrorNotACrash) {
  std::string deep = R"({"id":)" + std::string(100000, '[') + std::string(100000, ']') +
                     R"(,"method":"ping"})";
  EXPECT_EQ(run(deep + "\n"),
            R"({"error":{"code":-32700,"message":"parse error: recursion limit exceeded"},"id":null,"jsonrpc":"2.0"})"
            "\n");
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Delivers its input a few bytes per read, as a pipe does.
class TrickleBuffer : public std::streambuf {
 public:
  TrickleBuffer(std::string data, std::size_t step) : data_(std::move(data)), step_(step) {}

 protected:
  int_type underflow() override {
    if (pos_ >= data_.size()) return traits_type::eof();
    std::size_t n = std::min(step_, data_.size() - pos_);
    chunk_.assign(data_, pos_, n);
    pos_ += n;
    setg(chunk_.data(), chunk_.data(), chunk_.data() + n);
    return traits_type::to_int_type(chunk_[0]);
  }

 private:
  std::string data_, chunk_;
  std::size_t step_, pos_ = 0;
};

TEST(LineReader, ReassemblesLinesFromSmallReads) {
  const std::string input = "first line\r\nsecond\n\nthird without end";
  for (std::size_t step : {1, 2, 3, 7, 100}) {
    TrickleBuffer buffer(input, step);
    std::istream in(&buffer);
    LineReader reader(in);
    std::vector<std::string> lines;
    while (auto line = reader.next()) lines.push_back(line->text);
    EXPECT_EQ(lines, (std::vector<std::string>{"first line", "second", "", "third without end"}))
        << "step " << step;
  }
}

}  // namespace
}  // namespace quorvel
