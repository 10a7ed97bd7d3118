// The loop with its worker, driven like a client on a pipe: requests sent while a call runs,
// a scripted generator held at chosen prompts.
#include "server/worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "fakes/fake_generator.h"
#include "support/live_server.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::LiveServer;
using testing::TempDir;

// Opens once; waiting before that blocks.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Each call's generator is a view of one shared fake, which records every prompt.
class Borrowed final : public Generator {
 public:
  explicit Borrowed(FakeGenerator& fake) : fake_(fake) {}
  Result<std::string> generate(std::string_view prompt, uint32_t budget,
                               const SamplingParams& params,
                               const GenerationControl& control = NO_CONTROL) override {
    return fake_.generate(prompt, budget, params, control);
  }
  Result<std::vector<std::string>> generate_many(
      const std::vector<PromptRequest>& prompts, const SamplingParams& params,
      const OnResult& on_result, const GenerationControl& control = NO_CONTROL) override {
    return fake_.generate_many(prompts, params, on_result, control);
  }

 private:
  FakeGenerator& fake_;
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_.server().handler.generator_source = [this]() -> Result<std::unique_ptr<Generator>> {
      return std::make_unique<Borrowed>(fake_);
    };
  }

  // Prompt `n` (counting from 1) signals `started`, then waits for `release`.
  void hold_at(std::size_t n) {
    fake_.before_prompt = [this, n](std::size_t prompt) {
      if (prompt != n) return;
      started_.open();
      release_.wait();
    };
  }

  static std::string text_call(int id, const std::string& text, const std::string& extra = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"tools/call","params":{"name":"translate_text","arguments":{"text":")" +
           text + R"(","to":"fr"})" + extra + "}}";
  }
  // `more` adds arguments.
  static std::string file_call(int id, const std::string& path, const std::string& more = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"tools/call","params":{"name":"translate_file","arguments":{"path":")" +
           path + R"(","to":"fr")" + more + "}}}";
  }
  static std::string reply(int id, const std::string& text, bool is_error = false) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{"content":[{"text":")" +
           text + R"(","type":"text"}],"isError":)" + (is_error ? "true" : "false") + "}}";
  }
  static std::string pong(int id) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{}})";
  }

  TempDir dir_;
  FakeGenerator fake_;
  Gate started_, release_;
  LiveServer live_;
};

const std::string THREE_PARAGRAPHS = "First paragraph here.\n\nSecond one follows.\n\nThird and last.\n";

TEST_F(WorkerTest, PingIsAnsweredWhileACallRuns) {
  hold_at(1);
  live_.start();
  live_.send(text_call(1, "Hello world, how are you?"));
  started_.wait();
  live_.send(R"({"jsonrpc":"2.0","id":2,"method":"ping"})");
  EXPECT_EQ(live_.line(0), pong(2));
  release_.open();
  EXPECT_EQ(live_.line(1), reply(1, "[xx] Hello world, how are you?"));
}

TEST_F(WorkerTest, CancelledCallGetsNoReplyWritesNothingAndTheNextCallRuns) {
  const std::string input = dir_.file("doc.txt");
  testing::write_bytes(input, THREE_PARAGRAPHS);
  hold_at(2);
  live_.start();
  live_.send(file_call(7, input));
  started_.wait();
  live_.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})");
  // Unknown and finished ids change nothing.
  live_.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"nope"}})");
  // Requests are handled in order: once the ping is answered, the cancellation has been seen.
  live_.send(R"({"jsonrpc":"2.0","id":9,"method":"ping"})");
  EXPECT_EQ(live_.line(0), pong(9));
  release_.open();
  live_.send(text_call(8, "Good evening, everyone."));
  auto lines = live_.close();
  EXPECT_EQ(lines, (std::vector<std::string>{pong(9), reply(8, "[xx] Good evening, everyone.")}));
  EXPECT_EQ(dir_.list(), std::vector<std::string>{"doc.txt"});
  // The prompt held when the cancellation came was stopped, and no later one started.
  EXPECT_EQ(fake_.texts(),
            (std::vector<std::string>{"First paragraph here.", "Good evening, everyone."}));
}

TEST_F(WorkerTest, EqualCallsRunOnceAndEachWaitingRequestIsAnswered) {
  hold_at(1);
  live_.start();
  for (int id : {1, 2, 3}) live_.send(text_call(id, "Hello world, how are you?"));
  live_.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})");
  // Stop only once every request is in: the first prompt holds until then.
  live_.send(R"({"jsonrpc":"2.0","id":9,"method":"ping"})");
  EXPECT_EQ(live_.line(0), pong(9));
  release_.open();
  auto lines = live_.close();
  EXPECT_EQ(lines, (std::vector<std::string>{pong(9), reply(1, "[xx] Hello world, how are you?"),
                                             reply(3, "[xx] Hello world, how are you?")}));
  EXPECT_EQ(fake_.calls().size(), 1u);
}

TEST_F(WorkerTest, CallsBeyondTheQueueBoundAreRefusedAtOnce) {
  hold_at(1);
  live_.start();
  const int waiting = static_cast<int>(MAX_QUEUED_CALLS);
  for (int id = 0; id <= waiting + 1; ++id) {
    live_.send(text_call(id, "Text number " + std::to_string(id) + " to translate."));
    if (id == 0) started_.wait();
  }
  EXPECT_EQ(live_.line(0),
            reply(waiting + 1,
                  "too many translations waiting (at most 16); retry when one has finished", true));
  release_.open();
  EXPECT_EQ(live_.close().size(), MAX_QUEUED_CALLS + 2);
}

TEST_F(WorkerTest, TextWaitingBehindADocumentRunsAtItsNextPromptBoundary) {
  const std::string input = dir_.file("doc.txt");
  testing::write_bytes(input, THREE_PARAGRAPHS);
  hold_at(1);
  live_.start();
  live_.send(file_call(1, input));
  started_.wait();
  live_.send(text_call(2, "Good evening, everyone."));
  live_.send(R"({"jsonrpc":"2.0","id":3,"method":"ping"})");
  EXPECT_EQ(live_.line(0), pong(3));
  release_.open();
  auto lines = live_.close();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], reply(2, "[xx] Good evening, everyone."));
  EXPECT_EQ(lines[2], reply(1, "Translated 3 paragraphs to French. Wrote:\\n" +
                                   dir_.file("doc.fr.txt")));
  EXPECT_EQ(fake_.texts(), (std::vector<std::string>{"First paragraph here.", "Good evening, everyone.",
                                                     "Second one follows.", "Third and last."}));
}

TEST_F(WorkerTest, AnUnwritableOutputIsReportedBeforeTranslating) {
  const std::string input = dir_.file("doc.txt");
  testing::write_bytes(input, THREE_PARAGRAPHS);
  live_.start();
  const std::string output = dir_.file("missing/out.txt");
  live_.send(file_call(1, input, R"(,"output_path":")" + output + "\""));
  EXPECT_EQ(live_.close(), std::vector<std::string>{reply(
                               1, "cannot write " + output + ": No such file or directory", true)});
  EXPECT_EQ(fake_.calls().size(), 0u);
}

}  // namespace
}  // namespace quorvel
