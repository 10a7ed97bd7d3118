// Reading completion responses: llama-server's stream, the OpenAI-compatible stream, a
// single JSON document, and everything a server may send instead.

#include "engine/remote/completion_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

struct Case {
  const char* name;
  RemoteApi api;
  std::vector<std::string> pieces;
  const char* answer;  // the expected answer, or nullptr for a fault
  const char* fault;   // a part of the expected fault message
};

const std::string NATIVE_PROGRESS =
    "data: {\"content\":\"\",\"stop\":false,\"tokens_evaluated\":18,"
    "\"prompt_progress\":{\"total\":18,\"cache\":4,\"processed\":18}}\n\n";

std::vector<Case> cases() {
  return {
      {"native stream split inside lines",
       RemoteApi::native,
       {NATIVE_PROGRESS + "data: {\"content\":\"Bon", "jour\",\"stop\":false}\n", "\n: ping\n\n",
        "data: {\"content\":\" le monde.\",\"stop\":true}\n\n"},
       "Bonjour le monde.",
       ""},
      {"CRLF line ends and [DONE]",
       RemoteApi::openai,
       {"data: {\"choices\":[{\"text\":\"Bon\",\"finish_reason\":null}]}\r\n\r\n",
        "data: {\"choices\":[{\"text\":\"jour\",\"finish_reason\":\"length\"}]}\r\n\r\n",
        "data: [DONE]\r\n\r\n"},
       "Bonjour",
       ""},
      {"last event without its blank line",
       RemoteApi::native,
       {"data: {\"content\":\"fin\",\"stop\":true}"},
       "fin",
       ""},
      {"a server that ignored stream",
       RemoteApi::native,
       {"  {\"content\":\"Bonjour\",", "\"stop\":true,\"tokens_predicted\":3}"},
       "Bonjour",
       ""},
      {"OpenAI document", RemoteApi::openai, {"{\"choices\":[{\"text\":\"Hola\"}]}"}, "Hola", ""},
      {"cut before the end",
       RemoteApi::native,
       {"data: {\"content\":\"Bon\",\"stop\":false}\n\n"},
       nullptr,
       "ended before the answer was complete"},
      {"[DONE] before any finish",
       RemoteApi::openai,
       {"data: {\"choices\":[{\"text\":\"Bon\",\"finish_reason\":null}]}\n\ndata: [DONE]\n\n"},
       nullptr,
       "ended before the answer was complete"},
      {"error event in the stream",
       RemoteApi::native,
       {"data: {\"error\":{\"code\":500,\"message\":\"out of memory\"}}\n\n"},
       nullptr,
       "out of memory"},
      {"not JSON",
       RemoteApi::native,
       {"data: <html>oops</html>\n\n"},
       nullptr,
       "not a JSON object"},
      {"JSON but not an object",
       RemoteApi::openai,
       {"data: [1,2]\n\n"},
       nullptr,
       "not a JSON object"},
      {"content of the wrong type",
       RemoteApi::native,
       {"data: {\"content\":42,\"stop\":true}\n\n"},
       nullptr,
       "not text"},
      {"event with neither content nor progress",
       RemoteApi::native,
       {"data: {\"stop\":true}\n\n"},
       nullptr,
       "without content"},
      {"choices missing",
       RemoteApi::openai,
       {"data: {\"text\":\"x\"}\n\n"},
       nullptr,
       "without choices"},
      {"endless line",
       RemoteApi::native,
       {"data: {\"content\":\"" + std::string(MAX_EVENT_BYTES, 'a')},
       nullptr,
       "longer than"},
      {"document too large",
       RemoteApi::native,
       {"{" + std::string(MAX_EVENT_BYTES, ' ')},
       nullptr,
       "larger than"},
      {"empty body", RemoteApi::native, {}, nullptr, "ended before"},
  };
}

TEST(CompletionStream, ReadsAnswersAndRefusesWhatBreaksTheApi) {
  for (const auto& c : cases()) {
    SCOPED_TRACE(c.name);
    CompletionStream stream(c.api);
    for (const auto& piece : c.pieces) (void)stream.feed(piece);
    auto answer = stream.finish();
    if (c.answer) {
      ASSERT_TRUE(answer.has_value()) << answer.error().message;
      EXPECT_EQ(*answer, c.answer);
    } else {
      ASSERT_FALSE(answer.has_value()) << *answer;
      EXPECT_NE(answer.error().message.find(c.fault), std::string::npos) << answer.error().message;
    }
  }
}

TEST(CompletionStream, AnswerBeyondItsBoundIsAFault) {
  CompletionStream stream(RemoteApi::native);
  const std::string piece = "data: {\"content\":\"" + std::string(1000, 'x') + "\"}\n\n";
  bool faulted = false;
  for (std::size_t sent = 0; sent <= MAX_ANSWER_BYTES && !faulted; sent += 1000) {
    faulted = !stream.feed(piece).has_value();
  }
  EXPECT_TRUE(faulted);
  EXPECT_FALSE(stream.feed("data: {\"content\":\"\",\"stop\":true}\n\n").has_value());
  EXPECT_FALSE(stream.finish().has_value());
}

TEST(CompletionStream, ReportsPromptAndGeneratedTokens) {
  CompletionStream stream(RemoteApi::native);
  ASSERT_TRUE(stream.feed(NATIVE_PROGRESS));
  EXPECT_TRUE(stream.take_news());
  EXPECT_FALSE(stream.take_news());
  EXPECT_EQ(stream.progress().prompt_tokens, 18u);
  EXPECT_EQ(stream.progress().prompt_done, 18u);
  ASSERT_TRUE(stream.feed("data: {\"content\":\"a\",\"tokens_predicted\":2}\n\n"));
  EXPECT_TRUE(stream.take_news());
  EXPECT_EQ(stream.progress().generated, 2u);
  // A ping is no news.
  ASSERT_TRUE(stream.feed(":\n\n"));
  EXPECT_FALSE(stream.take_news());
}

TEST(CompletionStream, ErrorCodeOfTheServerIsKept) {
  CompletionStream stream(RemoteApi::native);
  auto fed = stream.feed(
      "data: {\"error\":{\"code\":400,\"message\":\"the request exceeds the available context "
      "size\",\"type\":\"exceed_context_size_error\"}}\n\n");
  ASSERT_FALSE(fed.has_value());
  EXPECT_EQ(fed.error().code, 400);
  EXPECT_EQ(fed.error().message, "the request exceeds the available context size");
}

}  // namespace
}  // namespace quorvel
