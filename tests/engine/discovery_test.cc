#include "engine/discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/engine_support.h"
#include "engine/runtime_cache.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

const std::string NO_ENGINE =
    "no translation engine found. Reinstalling Quorvel Translate fixes this.";
const std::string NO_MODEL =
    "no translation model is installed. Open the Quorvel Translate app once and download the "
    "model, then retry.";
const char* MODEL_NAME = "translategemma-4b-it-Q4_K_M.gguf";

// A directory tree for one test, searched with no configuration variables set.
class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() {
    env_.unset("TRANSLATE_LLM_DIR").unset("TRANSLATE_LLM_MODEL").unset("LOCALAPPDATA");
    env_.unset("XDG_DATA_HOME").set("HOME", root("home"));
    fs::create_directories(root("home"));
  }

  std::string root(const std::string& relative) const { return tree_.file(relative); }

  // Creates a file (and its directories) at `relative`.
  std::string touch(const std::string& relative) {
    fs::path path = root(relative);
    fs::create_directories(path.parent_path());
    testing::write_bytes(path.string(), "");
    return path.string();
  }

  std::string engine_at(const std::string& relative) {
    touch(relative + "/libllama.so");
    return root(relative);
  }

  TempDir tree_;
  ScopedEnv env_;
};

TEST_F(DiscoveryTest, InstalledEngineDirectoryWinsOverFrameworks) {
  std::string exe = touch("app/bin/quorvel-translate");
  std::string installed = engine_at("app/bin/resources/engine");
  engine_at("app/Frameworks");
  auto roots = search_roots(fs::path(exe));
  EXPECT_EQ(locate_engine_dir(roots), fs::path(installed));

  fs::remove(installed + "/libllama.so");
  EXPECT_EQ(locate_engine_dir(roots), fs::path(root("app/bin")) / "../Frameworks");

  fs::remove(root("app/Frameworks/libllama.so"));
  auto none = locate_engine_dir(roots);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().message, NO_ENGINE);
}

TEST_F(DiscoveryTest, VariablesAreUsedAsGivenWithoutChecks) {
  std::string exe = touch("app/quorvel-translate");
  engine_at("app/resources/engine");
  auto roots = search_roots(fs::path(exe));
  env_.set("TRANSLATE_LLM_DIR", "").set("TRANSLATE_LLM_MODEL", "relative/missing.gguf");
  EXPECT_EQ(locate_engine_dir(roots), fs::path(""));
  EXPECT_EQ(locate_model_file(roots), fs::path("relative/missing.gguf"));
}

TEST_F(DiscoveryTest, DevelopmentCheckoutFallsBackToTheSpikeDirectory) {
  touch("work/checkout/Cargo.toml");
  fs::create_directories(root("work/checkout/crates"));
  std::string exe = touch("work/checkout/target/release/quorvel-translate");
  const fs::path llm = fs::path(root("work")) / "Kestrune" / "spike" / "llm";
  auto roots = search_roots(fs::path(exe));
  ASSERT_EQ(roots.dev_root, llm);

  engine_at("work/Kestrune/spike/llm/cpu");
  EXPECT_EQ(locate_engine_dir(roots), llm / "cpu");
  engine_at("work/Kestrune/spike/llm/vulkan");
  EXPECT_EQ(locate_engine_dir(roots), llm / "vulkan");

  EXPECT_EQ(locate_model_file(roots).error().message, NO_MODEL);
  touch(std::string("work/Kestrune/spike/llm/") + MODEL_NAME);
  EXPECT_EQ(locate_model_file(roots), llm / MODEL_NAME);
}

TEST_F(DiscoveryTest, CheckoutMarkersMustBeAFileAndADirectory) {
  fs::create_directories(root("work/checkout/Cargo.toml"));  // a directory, not a file
  fs::create_directories(root("work/checkout/crates"));
  std::string exe = touch("work/checkout/target/release/quorvel-translate");
  EXPECT_FALSE(search_roots(fs::path(exe)).dev_root);

  fs::remove(root("work/checkout/Cargo.toml"));
  touch("work/checkout/Cargo.toml");
  fs::remove(root("work/checkout/crates"));
  touch("work/checkout/crates");  // a file, not a directory
  EXPECT_FALSE(search_roots(fs::path(exe)).dev_root);
}

TEST_F(DiscoveryTest, ModelIsSearchedInTheUserDataDirectoryFirst) {
  touch("work/Cargo.toml");
  fs::create_directories(root("work/crates"));
  std::string exe = touch("work/target/quorvel-translate");
  std::string dev_model = touch(std::string("Kestrune/spike/llm/") + MODEL_NAME);
  auto roots = search_roots(fs::path(exe));
  const std::string under_data = std::string("com.quorvel.translate/models/") + MODEL_NAME;

  // Without LOCALAPPDATA the per-user directory is $HOME/.local/share.
  EXPECT_EQ(locate_model_file(roots), fs::path(dev_model));
  std::string home_model = touch("home/.local/share/" + under_data);
  EXPECT_EQ(locate_model_file(roots), fs::path(home_model));

  env_.set("LOCALAPPDATA", root("appdata"));
  EXPECT_EQ(locate_model_file(roots), fs::path(dev_model));
  std::string local_model = touch("appdata/" + under_data);
  EXPECT_EQ(locate_model_file(roots), fs::path(local_model));
}

TEST_F(DiscoveryTest, NoEngineMeansNoModelSearchAndNoStartUpLine) {
  std::string exe = touch("app/quorvel-translate");
  std::FILE* log = std::tmpfile();
  EngineSlot slot;
  auto engine = ensure_engine(slot, EngineSearch{fs::path(exe), log});
  ASSERT_FALSE(engine);
  EXPECT_EQ(engine.error().message, NO_ENGINE);  // although no model exists either
  EXPECT_EQ(std::ftell(log), 0);
  std::fclose(log);

  engine_at("app/resources/engine");
  log = std::tmpfile();
  engine = ensure_engine(slot, EngineSearch{fs::path(exe), log});
  ASSERT_FALSE(engine);
  EXPECT_EQ(engine.error().message, NO_MODEL);
  EXPECT_EQ(std::ftell(log), 0);
  std::fclose(log);
}

std::string read_log(std::FILE* log) {
  std::string text(static_cast<std::size_t>(std::ftell(log)), '\0');
  std::rewind(log);
  text.resize(std::fread(text.data(), 1, text.size(), log));
  std::fseek(log, 0, SEEK_END);
  return text;
}

std::size_t cached_bindings() {
  RuntimeCache& cache = runtime_cache();
  std::lock_guard lock(cache.mutex);
  return cache.entries.size();
}

TEST_F(DiscoveryTest, MissingModelFileBindsOnceAndFailsEachTime) {
  QUORVEL_REQUIRE_REAL_ENGINE(testing::test_model("tiny.gguf"));
  const std::string engine_dir = testing::real_engine_dir().string();
  const std::string model = root("missing.gguf");
  env_.set("TRANSLATE_LLM_DIR", engine_dir).set("TRANSLATE_LLM_MODEL", model);
  const std::string line = "[corvane] engine " + engine_dir + " model " + model + "\n";

  std::FILE* log = std::tmpfile();
  EngineSlot slot;
  std::size_t bindings = 0;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    auto engine = ensure_engine(slot, EngineSearch{std::nullopt, log});
    ASSERT_FALSE(engine);
    EXPECT_EQ(engine.error().message, "failed to load model " + model);
    EXPECT_FALSE(slot.engine);
    // The binding of the first attempt stays; the second binds nothing new.
    if (attempt == 1) bindings = cached_bindings();
    EXPECT_EQ(cached_bindings(), bindings);
  }
  EXPECT_TRUE(bind_runtime(engine_dir).has_value());
  EXPECT_EQ(cached_bindings(), bindings);
  EXPECT_EQ(read_log(log), line + line);  // the line is written at every attempt

  // Once loaded, the engine is kept: no search, no line, whatever the environment says.
  env_.set("TRANSLATE_LLM_MODEL", testing::test_model("tiny.gguf").string());
  auto loaded = ensure_engine(slot, EngineSearch{std::nullopt, log});
  ASSERT_TRUE(loaded) << loaded.error().message;
  ASSERT_TRUE(slot.engine);
  env_.set("TRANSLATE_LLM_DIR", "/nonexistent");
  auto again = ensure_engine(slot, EngineSearch{std::nullopt, log});
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *loaded);
  EXPECT_EQ(read_log(log), line + line + "[corvane] engine " + engine_dir + " model " +
                               testing::test_model("tiny.gguf").string() + "\n");
  EXPECT_EQ(cached_bindings(), bindings);
  std::fclose(log);
}

TEST_F(DiscoveryTest, StartUpLineShowsBytesThatAreNotUtf8AsReplacementCharacters) {
  std::string exe = touch("app/quorvel-translate");
  engine_at("app/resources/engine");
  env_.set("TRANSLATE_LLM_MODEL", "caf\xe9.gguf");
  std::FILE* log = std::tmpfile();
  EngineSlot slot;
  auto engine = ensure_engine(slot, EngineSearch{fs::path(exe), log});
  ASSERT_FALSE(engine);  // the empty libllama.so cannot be loaded
  EXPECT_EQ(read_log(log),
            "[corvane] engine " + root("app") + "/resources/engine model caf\xef\xbf\xbd.gguf\n");
  std::fclose(log);
}

// The build links the fetched engine beside the built server, the way an installation has it.
TEST_F(DiscoveryTest, BuiltServerFindsItsEngineWithoutConfiguration) {
  QUORVEL_REQUIRE_REAL_ENGINE(testing::test_model("tiny.gguf"));
  const fs::path server = QUORVEL_BINARY_DIR "/quorvel-translate";
  env_.set("TRANSLATE_LLM_MODEL", testing::test_model("tiny.gguf").string());
  std::FILE* log = std::tmpfile();
  EngineSlot slot;
  auto engine = ensure_engine(slot, EngineSearch{server, log});
  ASSERT_TRUE(engine) << engine.error().message;
  EXPECT_EQ(read_log(log), "[corvane] engine " QUORVEL_BINARY_DIR "/resources/engine model " +
                               testing::test_model("tiny.gguf").string() + "\n");
  std::fclose(log);
}

}  // namespace
}  // namespace quorvel
