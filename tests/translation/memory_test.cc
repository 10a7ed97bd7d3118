#include "translation/memory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "fakes/fake_generator.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using testing::TempDir;

const SamplingParams SAMPLED{0.2f, 64, 0.95f, 24301};

// A log the tests can read back.
class Log {
 public:
  Log() : file_(std::tmpfile()) {}
  ~Log() { std::fclose(file_); }
  std::FILE* get() const { return file_; }
  std::string text() const {
    std::rewind(file_);
    std::string out;
    for (int c; (c = std::fgetc(file_)) != EOF;) out += static_cast<char>(c);
    return out;
  }

 private:
  std::FILE* file_;
};

std::vector<PromptRequest> prompts(std::initializer_list<const char*> texts) {
  std::vector<PromptRequest> out;
  for (const char* text : texts) out.push_back({text, 32});
  return out;
}

TEST(MemoryFile, FollowsTheEnvironment) {
  using Env = std::map<std::string, std::string>;
  const std::vector<std::pair<Env, std::string>> cases = {
      {{{"HOME", "/home/a"}}, "/home/a/.cache/com.quorvel.translate/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"XDG_CACHE_HOME", "/c"}}, "/c/com.quorvel.translate/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"XDG_CACHE_HOME", "relative"}},
       "/home/a/.cache/com.quorvel.translate/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"XDG_CACHE_HOME", "/c"}, {"LOCALAPPDATA", "/l"}},
       "/l/com.quorvel.translate/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"LOCALAPPDATA", ""}},
       "/home/a/.cache/com.quorvel.translate/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"TRANSLATE_MEMORY", "/m"}}, "/m/memory.sqlite3"},
      {{{"HOME", "/home/a"}, {"TRANSLATE_MEMORY", "off"}}, ""},
      {{}, ""},
  };
  for (const auto& [env, expected] : cases) {
    auto file = memory_file([&](const char* name) -> std::optional<std::string> {
      auto it = env.find(name);
      return it == env.end() ? std::nullopt : std::optional(it->second);
    });
    EXPECT_EQ(file ? file->string() : "", expected) << expected;
  }
}

TEST(MemoryKey, EveryPartCounts) {
  const MemoryKey base = memory_key("engine", "prompt", 32, SAMPLED);
  EXPECT_EQ(memory_key("engine", "prompt", 32, SAMPLED), base);
  SamplingParams other = SAMPLED;
  std::vector<MemoryKey> changed = {memory_key("engine2", "prompt", 32, SAMPLED),
                                    memory_key("engine", "prompt ", 32, SAMPLED),
                                    memory_key("engine", "prompt", 33, SAMPLED)};
  for (auto change : std::vector<std::function<void(SamplingParams&)>>{
           [](SamplingParams& p) { p.temperature = 0.0f; }, [](SamplingParams& p) { p.top_k = 40; },
           [](SamplingParams& p) { p.top_p = 0.9f; }, [](SamplingParams& p) { p.seed = 1; }}) {
    other = SAMPLED;
    change(other);
    changed.push_back(memory_key("engine", "prompt", 32, other));
  }
  // Parts are length-prefixed: moving bytes from one part to the next changes the key.
  changed.push_back(memory_key("enginep", "rompt", 32, SAMPLED));
  for (std::size_t i = 0; i < changed.size(); ++i) EXPECT_NE(changed[i], base) << i;
}

class MemoryTest : public ::testing::Test {
 protected:
  std::unique_ptr<TranslationMemory> open(uint64_t max_bytes = MEMORY_MAX_BYTES) {
    return TranslationMemory::open(file_, log_.get(), max_bytes);
  }

  TempDir dir_;
  std::string file_ = dir_.file("cache/memory.sqlite3");
  Log log_;
  FakeGenerator fake_;
};

TEST_F(MemoryTest, AHitSkipsTheModelAndOnlyFinishedAnswersAreKept) {
  auto memory = open();
  ASSERT_TRUE(memory);
  MemoryGenerator remembering(fake_, memory.get(), "engine");
  fake_.fail_at(1);
  EXPECT_FALSE(remembering.generate("Hello there.", 32, SAMPLED));
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(remembering.generate("Hello there.", 32, SAMPLED, {stop.get_token(), {}}).error().kind,
            ErrorKind::cancelled);
  EXPECT_EQ(*remembering.generate("Hello there.", 32, SAMPLED), "[xx] Hello there.");
  EXPECT_EQ(*remembering.generate("Hello there.", 32, SAMPLED), "[xx] Hello there.");
  EXPECT_EQ(fake_.calls().size(), 2u);  // the failure, then one real answer
  EXPECT_EQ(log_.text(), "");
}

TEST_F(MemoryTest, AnAnswerIsKeptAsSoonAsItsPromptIsDone) {
  auto memory = open();
  MemoryGenerator remembering(fake_, memory.get(), "engine");
  fake_.fail_at(3);
  auto batch = prompts({"one", "two", "three", "four", "five"});
  EXPECT_FALSE(remembering.generate_many(batch, SAMPLED, nullptr));

  // The second run gets one and two from the memory first, then the rest from the model, each
  // with its own index.
  std::vector<std::pair<std::size_t, std::string>> seen;
  auto results =
      remembering.generate_many(batch, SAMPLED, [&](std::size_t i, const std::string& text) {
        seen.emplace_back(i, text);
        return true;
      });
  ASSERT_TRUE(results);
  EXPECT_EQ(*results, (std::vector<std::string>{"[xx] one", "[xx] two", "[xx] three", "[xx] four",
                                                "[xx] five"}));
  EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::string>>{{0, "[xx] one"},
                                                                    {1, "[xx] two"},
                                                                    {2, "[xx] three"},
                                                                    {3, "[xx] four"},
                                                                    {4, "[xx] five"}}));
  EXPECT_EQ(fake_.texts(),
            (std::vector<std::string>{"one", "two", "three", "three", "four", "five"}));
}

// Reports one token step per answered prompt, as the engine would, so that the index the
// wrapper passes on for progress can be checked.
class ReportingGenerator final : public ForwardingGenerator {
 public:
  explicit ReportingGenerator(Generator& inner) : ForwardingGenerator(inner) {}
  Result<std::vector<std::string>> generate_many(const std::vector<PromptRequest>& prompts,
                                                 const SamplingParams& params,
                                                 const OnResult& on_result,
                                                 const GenerationControl& control) override {
    auto report = [&](std::size_t i, const std::string& text) {
      if (control.on_tokens) control.on_tokens(i, 1, 1);
      return on_result(i, text);
    };
    return ForwardingGenerator::generate_many(prompts, params, report, control);
  }
};

TEST_F(MemoryTest, RememberedAnswersComeFirstAndEveryAnswerKeepsItsIndex) {
  auto memory = open();
  ReportingGenerator reporting(fake_);
  MemoryGenerator remembering(reporting, memory.get(), "engine");
  for (const char* text : {"one", "three"}) ASSERT_TRUE(remembering.generate(text, 32, SAMPLED));

  std::vector<std::pair<std::size_t, std::string>> seen;
  std::vector<std::size_t> progress;
  GenerationControl control{{}, [&](std::size_t i, uint64_t, uint64_t) { progress.push_back(i); }};
  auto results = remembering.generate_many(
      prompts({"zero", "one", "two", "three", "four"}), SAMPLED,
      [&](std::size_t i, const std::string& text) {
        seen.emplace_back(i, text);
        return true;
      },
      control);
  ASSERT_TRUE(results);
  EXPECT_EQ(*results, (std::vector<std::string>{"[xx] zero", "[xx] one", "[xx] two", "[xx] three",
                                                "[xx] four"}));
  EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::string>>{{1, "[xx] one"},
                                                                    {3, "[xx] three"},
                                                                    {0, "[xx] zero"},
                                                                    {2, "[xx] two"},
                                                                    {4, "[xx] four"}}));
  EXPECT_EQ(progress, (std::vector<std::size_t>{0, 2, 4}));  // remembered answers need none
  EXPECT_EQ(fake_.texts(), (std::vector<std::string>{"one", "three", "zero", "two", "four"}));
}

TEST_F(MemoryTest, StoppingKeepsWhatWasFinishedAndNothingElse) {
  auto memory = open();
  MemoryGenerator remembering(fake_, memory.get(), "engine");
  auto batch = prompts({"one", "two", "three", "four"});
  std::stop_source stop;
  fake_.before_prompt = [&](std::size_t n) {
    if (n == 3) stop.request_stop();
  };
  auto go_on = [](std::size_t, const std::string&) { return true; };
  auto stopped = remembering.generate_many(batch, SAMPLED, go_on, {stop.get_token(), {}});
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().kind, ErrorKind::cancelled);

  // A stop request ends a call even when the memory could answer all of it.
  auto remembered = prompts({"one", "two"});
  std::size_t reported = 0;
  auto count = [&](std::size_t, const std::string&) { return ++reported, true; };
  auto again = remembering.generate_many(remembered, SAMPLED, count, {stop.get_token(), {}});
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().kind, ErrorKind::cancelled);
  EXPECT_EQ(reported, 0u);

  // The caller stopping through on_result: nothing after the first remembered answer runs.
  auto first_only = [&](std::size_t, const std::string&) { return ++reported, false; };
  EXPECT_TRUE(remembering.generate_many(batch, SAMPLED, first_only));
  EXPECT_EQ(reported, 1u);
  EXPECT_EQ(fake_.texts(), (std::vector<std::string>{"one", "two"}));

  // Only the prompts answered before the stop were kept.
  fake_.before_prompt = nullptr;
  EXPECT_TRUE(remembering.generate_many(batch, SAMPLED, go_on));
  EXPECT_EQ(fake_.texts(), (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST_F(MemoryTest, TwoOpenMemoriesOnOneFileShareTheirAnswers) {
  auto first = open();
  auto second = open();
  const MemoryKey key = memory_key("engine", "prompt", 32, SAMPLED);
  first->store(key, "answer");
  EXPECT_EQ(second->find(key), "answer");
}

TEST_F(MemoryTest, TheFolderAndFileAreTheOwnersOnly) {
  auto memory = open();
  struct stat folder, file;
  ASSERT_EQ(::stat(dir_.file("cache").c_str(), &folder), 0);
  ASSERT_EQ(::stat(file_.c_str(), &file), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
}

// Our own folder may have been made with looser bits by an earlier run and is narrowed; a
// folder the user named is theirs and keeps its bits.
TEST_F(MemoryTest, AnExistingFileAndOurOwnFolderAreNarrowed) {
  for (const auto& [folder, expected] :
       std::vector<std::pair<std::string, unsigned>>{{MEMORY_FOLDER_NAME, 0700}, {"mine", 0755}}) {
    const std::string path = dir_.file(folder);
    std::filesystem::create_directory(path);
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    testing::write_bytes(path + "/memory.sqlite3", "");
    ASSERT_EQ(::chmod((path + "/memory.sqlite3").c_str(), 0644), 0);
    ASSERT_TRUE(TranslationMemory::open(path + "/memory.sqlite3", log_.get()));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, expected) << folder;
    ASSERT_EQ(::stat((path + "/memory.sqlite3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << folder;
  }
}

TEST_F(MemoryTest, ADamagedFileIsMovedAsideAndANewOneStarted) {
  std::filesystem::create_directories(dir_.file("cache"));
  testing::write_bytes(file_, std::string(8192, 'x'));
  auto memory = open();
  ASSERT_TRUE(memory);
  const MemoryKey key = memory_key("engine", "prompt", 32, SAMPLED);
  memory->store(key, "answer");
  EXPECT_EQ(memory->find(key), "answer");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.file("cache"))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 4u);  // the new file, its log and index, and the damaged one
  EXPECT_TRUE(names[3].starts_with("memory.sqlite3.corrupt-")) << names[3];
  EXPECT_TRUE(testing::read_bytes(dir_.file("cache/" + names[3])) == std::string(8192, 'x'));
  EXPECT_NE(log_.text().find("was damaged; moved it to"), std::string::npos) << log_.text();
}

// Damage inside the file only shows when a page is read, after opening went well.
TEST_F(MemoryTest, DamageFoundOnFirstUseAlsoStartsANewFile) {
  std::vector<MemoryKey> keys;
  {
    auto memory = open();
    for (int i = 0; i < 100; ++i) {
      keys.push_back(memory_key("engine", std::to_string(i), 32, SAMPLED));
      memory->store(keys.back(), std::string(1000, 'a'));
    }
  }  // the last connection folds its write-ahead log into the file
  std::string bytes = testing::read_bytes(file_);
  ASSERT_GT(bytes.size(), 8192u);
  std::fill(bytes.begin() + 4096, bytes.end(), '\xee');  // every page but the header's
  testing::write_bytes(file_, bytes);

  auto memory = open();
  ASSERT_TRUE(memory);
  EXPECT_EQ(log_.text(), "");
  EXPECT_FALSE(memory->find(keys[0]));
  EXPECT_NE(log_.text().find("was damaged; moved it to " + file_ + ".corrupt-"), std::string::npos)
      << log_.text();
  memory->store(keys[1], "answer");
  EXPECT_EQ(memory->find(keys[1]), "answer");
  EXPECT_EQ(open()->find(keys[1]), "answer");  // the new file, not the old connection's
  EXPECT_EQ(log_.text().find("memory off"), std::string::npos) << log_.text();
}

// A file something else made: its triggers never run on our writes, and a view where our
// table would be turns the memory off, leaving the file as it is.
TEST_F(MemoryTest, AnotherProgramsTriggersAndViewsNeverRun) {
  std::filesystem::create_directories(dir_.file("cache"));
  auto exec = [&](const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  };
  auto count_log_rows = [&] {
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM log", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    int rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  };
  exec(
      "CREATE TABLE answers(key BLOB PRIMARY KEY, answer BLOB NOT NULL, bytes INTEGER NOT NULL,"
      " used INTEGER NOT NULL) WITHOUT ROWID; CREATE TABLE log(x);"
      "CREATE TRIGGER spy AFTER INSERT ON answers BEGIN INSERT INTO log VALUES(new.answer); END;");
  const MemoryKey key = memory_key("engine", "prompt", 32, SAMPLED);
  {
    auto memory = open();
    ASSERT_TRUE(memory);
    memory->store(key, "answer");
    EXPECT_EQ(memory->find(key), "answer");
  }
  EXPECT_EQ(count_log_rows(), 0);

  std::filesystem::remove(file_);
  exec(
      "CREATE TABLE t(a); CREATE VIEW answers AS SELECT a AS key, a AS answer, 1 AS bytes,"
      " 1 AS used FROM t;");
  EXPECT_EQ(open(), nullptr);
  EXPECT_NE(log_.text().find("translation memory off"), std::string::npos) << log_.text();
  EXPECT_TRUE(std::filesystem::exists(file_));  // not ours to move or replace
}

TEST_F(MemoryTest, AnUnusableLocationMeansGoingOnWithoutMemory) {
  testing::write_bytes(dir_.file("cache"), "a file where the folder should be");
  EXPECT_EQ(open(), nullptr);
  EXPECT_EQ(log_.text().rfind("[corvane] translation memory off: " + file_ + ": ", 0), 0u)
      << log_.text();
  // The generator then only passes calls on.
  MemoryGenerator remembering(fake_, nullptr, "engine");
  EXPECT_EQ(*remembering.generate("Hello.", 32, SAMPLED), "[xx] Hello.");
  EXPECT_EQ(*remembering.generate("Hello.", 32, SAMPLED), "[xx] Hello.");
  EXPECT_EQ(fake_.calls().size(), 2u);
}

TEST_F(MemoryTest, BeyondItsBoundTheLeastRecentlyUsedAnswersGo) {
  // Each answer takes 1,000 bytes plus its 16-byte key; the bound holds about 50.
  auto memory = open(50 * 1016);
  std::vector<MemoryKey> keys;
  for (int i = 0; i < 40; ++i) {
    keys.push_back(memory_key("engine", std::to_string(i), 32, SAMPLED));
    memory->store(keys.back(), std::string(1000, 'a'));
  }
  // The first answer is used again, so it is the newest when the bound is passed.
  EXPECT_TRUE(memory->find(keys[0]));
  for (int i = 40; i < 60; ++i) {
    keys.push_back(memory_key("engine", std::to_string(i), 32, SAMPLED));
    memory->store(keys.back(), std::string(1000, 'a'));
  }
  int kept = 0;
  for (const auto& key : keys) kept += memory->find(key) ? 1 : 0;
  EXPECT_LE(kept, 50);
  EXPECT_GE(kept, 40);
  EXPECT_TRUE(memory->find(keys[0]));
  EXPECT_FALSE(memory->find(keys[1]));
  EXPECT_TRUE(memory->find(keys.back()));
}

}  // namespace
}  // namespace quorvel
