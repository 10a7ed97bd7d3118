// The loop with its worker, driven like a client on a pipe: requests sent while a call runs,
// a scripted generator held at chosen prompts.
#include "server/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "fakes/fake_generator.h"
#include "support/live_server.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::LiveServer;
using testing::TempDir;

// Opens once; waiting before that blocks, for a while: a call that never reaches its prompt
// fails the test rather than hanging it.
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
    if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; })) {
      ADD_FAILURE() << "the gate was never opened";
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_.server().handler.generator_source = [this]() -> Result<std::unique_ptr<Generator>> {
      // Each call's generator is a view of one shared fake, which records every prompt.
      return std::make_unique<ForwardingGenerator>(fake_);
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

  // A JSON string literal: Windows paths carry backslashes.
  static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }

  static std::string text_call(int id, const std::string& text, const std::string& extra = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"tools/call","params":{"name":"translate_text","arguments":{"text":)" +
           quoted(text) + R"(,"to":"fr"})" + extra + "}}";
  }
  // `more` adds arguments, `extra` params.
  static std::string file_call(int id, const std::string& path, const std::string& more = "",
                               const std::string& extra = "") {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"tools/call","params":{"name":"translate_file","arguments":{"path":)" +
           quoted(path) + R"(,"to":"fr")" + more + "}" + extra + "}}";
  }
  static std::string reply(int id, const std::string& text, bool is_error = false) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{"content":[{"text":)" +
           quoted(text) + R"(,"type":"text"}],"isError":)" + (is_error ? "true" : "false") + "}}";
  }
  static std::string pong(int id) {
    return R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0","result":{}})";
  }

  TempDir dir_;
  FakeGenerator fake_;
  Gate started_, release_;
  LiveServer live_;
};

const std::string THREE_PARAGRAPHS =
    "First paragraph here.\n\nSecond one follows.\n\nThird and last.\n";

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
  live_.send(
      R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"nope"}})");
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
  EXPECT_EQ(lines[2],
            reply(1, "Translated 3 paragraphs to French. Wrote:\n" + dir_.file("doc.fr.txt")));
  EXPECT_EQ(fake_.texts(),
            (std::vector<std::string>{"First paragraph here.", "Good evening, everyone.",
                                      "Second one follows.", "Third and last."}));
}

TEST_F(WorkerTest, AnUnwritableOutputIsReportedBeforeTranslating) {
  const std::string input = dir_.file("doc.txt");
  testing::write_bytes(input, THREE_PARAGRAPHS);
  live_.start();
  const std::string output = dir_.file("missing/out.txt");
  live_.send(file_call(1, input, R"(,"output_path":)" + quoted(output)));
  EXPECT_EQ(live_.close(), std::vector<std::string>{reply(
                               1, "cannot write " + output + ": No such file or directory", true)});
  EXPECT_EQ(fake_.calls().size(), 0u);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

nlohmann::json parse(const std::string& line) {
  return nlohmann::json::parse(line);
}

const std::string INITIALIZE_WITH_TASKS =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{"tasks":{"list":{},"cancel":{}}}}})";

TEST_F(WorkerTest, TasksAreOfferedOnlyToAClientThatAnnouncesThem) {
  live_.start();
  live_.send(R"({"jsonrpc":"2.0","id":1,"method":"tasks/list"})");
  EXPECT_EQ(
      live_.line(0),
      R"({"error":{"code":-32601,"message":"method not found: tasks/list"},"id":1,"jsonrpc":"2.0"})");
  live_.send(INITIALIZE_WITH_TASKS);
  auto init = parse(live_.line(1));
  EXPECT_EQ(
      init["result"]["capabilities"].dump(),
      R"({"tasks":{"cancel":{},"list":{},"requests":{"tools":{"call":{}}}},"tools":{"listChanged":false}})");
  live_.send(R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})");
  const auto listed = parse(live_.line(2));
  for (const auto& tool : listed["result"]["tools"]) {
    EXPECT_EQ(tool["execution"].dump(), R"({"taskSupport":"optional"})") << tool["name"];
  }
}

TEST_F(WorkerTest, ATaskRunsAfterItsAnswerAndItsResultIsHeldUntilItEnds) {
  hold_at(1);
  live_.start();
  live_.send(INITIALIZE_WITH_TASKS);
  live_.line(0);
  live_.send(text_call(1, "Hello world, how are you?", R"(,"task":{"ttl":60000})"));
  auto created = parse(live_.line(1))["result"]["task"];
  const std::string task_id = created["taskId"];
  EXPECT_EQ(task_id.size(), 32u);
  EXPECT_EQ(created["status"], "working");
  EXPECT_EQ(created["ttl"], 60000);
  EXPECT_TRUE(created.contains("createdAt") && created.contains("lastUpdatedAt") &&
              created.contains("pollInterval"));
  started_.wait();
  const std::string id_param = R"(,"params":{"taskId":")" + task_id + "\"}}";
  live_.send(R"({"jsonrpc":"2.0","id":2,"method":"tasks/result")" + id_param);
  live_.send(R"({"jsonrpc":"2.0","id":3,"method":"tasks/get")" + id_param);
  EXPECT_EQ(parse(live_.line(2))["result"]["status"], "working");
  release_.open();
  auto result = parse(live_.line(3));
  EXPECT_EQ(result["id"], 2);
  EXPECT_EQ(result["result"]["content"][0]["text"], "[xx] Hello world, how are you?");
  EXPECT_EQ(result["result"]["isError"], false);
  EXPECT_EQ(result["result"]["_meta"]["io.modelcontextprotocol/related-task"]["taskId"], task_id);
  live_.send(R"({"jsonrpc":"2.0","id":4,"method":"tasks/get")" + id_param);
  EXPECT_EQ(parse(live_.line(4))["result"]["status"], "completed");
  live_.send(R"({"jsonrpc":"2.0","id":5,"method":"tasks/cancel")" + id_param);
  EXPECT_EQ(parse(live_.line(5))["error"]["code"], -32602);
  // A call failing its checks is a task that has failed already, its message in the result.
  live_.send(text_call(6, "", R"(,"task":{})"));
  auto failed = parse(live_.line(6))["result"]["task"];
  EXPECT_EQ(failed["status"], "failed");
  live_.send(R"({"jsonrpc":"2.0","id":7,"method":"tasks/result","params":{"taskId":")" +
             failed["taskId"].get<std::string>() + "\"}}");
  EXPECT_EQ(parse(live_.line(7))["result"]["content"][0]["text"], "text is empty");
  live_.send(R"({"jsonrpc":"2.0","id":8,"method":"tasks/list"})");
  EXPECT_EQ(parse(live_.line(8))["result"]["tasks"].size(), 2u);
  live_.send(R"({"jsonrpc":"2.0","id":9,"method":"tasks/get","params":{"taskId":"nope"}})");
  EXPECT_EQ(live_.line(9),
            R"({"error":{"code":-32602,"message":"task not found: nope"},"id":9,"jsonrpc":"2.0"})");
}

TEST_F(WorkerTest, ACancelledTaskStopsItsCallAndWritesNothing) {
  const std::string input = dir_.file("doc.txt");
  testing::write_bytes(input, THREE_PARAGRAPHS);
  hold_at(2);
  live_.start();
  live_.send(INITIALIZE_WITH_TASKS);
  live_.line(0);
  live_.send(file_call(1, input, "", R"(,"task":{})"));
  const std::string task_id = parse(live_.line(1))["result"]["task"]["taskId"];
  started_.wait();
  const std::string id_param = R"(,"params":{"taskId":")" + task_id + "\"}}";
  live_.send(R"({"jsonrpc":"2.0","id":2,"method":"tasks/result")" + id_param);
  live_.send(R"({"jsonrpc":"2.0","id":3,"method":"tasks/cancel")" + id_param);
  // The held tasks/result learns of the end first, then tasks/cancel answers.
  EXPECT_EQ(live_.line(2), R"({"error":{"code":-32602,"message":"task )" + task_id +
                               R"( was cancelled"},"id":2,"jsonrpc":"2.0"})");
  EXPECT_EQ(parse(live_.line(3))["result"]["status"], "cancelled");
  release_.open();
  EXPECT_EQ(live_.close().size(), 4u);
  EXPECT_EQ(dir_.list(), std::vector<std::string>{"doc.txt"});
}

}  // namespace
}  // namespace quorvel
