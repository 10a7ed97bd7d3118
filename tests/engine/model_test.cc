#include "engine/model.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "engine/real_engine.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::RealEngineTest;
using testing::TempDir;

TEST(ParseStrictInt32, AcceptsOnlyPlainDecimalNumbersInRange) {
  const std::map<std::string, std::optional<int32_t>> cases = {
      {"0", 0},
      {"8", 8},
      {"+6", 6},
      {"-4", -4},
      {"0007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {" 8", std::nullopt},
      {"8 ", std::nullopt},
      {"eight", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"\xd9\xa3", std::nullopt},  // ARABIC-INDIC DIGIT THREE
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parse_strict_int32(text), expected) << '"' << text << '"';
  }
}

TEST(DefaultThreadCount, IsHalfTheProcessorsWithinFourToSixteen) {
  const std::map<unsigned, int32_t> cases = {{0, 4},  {1, 1},  {2, 2},   {4, 4},   {8, 4},  {10, 5},
                                             {12, 6}, {16, 8}, {24, 12}, {32, 16}, {64, 16}};
  for (const auto& [processors, threads] : cases) {
    EXPECT_EQ(default_thread_count(processors), threads) << processors << " processors";
  }
}

TEST(ContextSettings, TuningVariablesAreReadStrictly) {
  struct Case {
    std::map<std::string, std::string> env;
    int32_t threads;
    std::optional<int32_t> flash_attn;
    std::optional<bool> swa_full;
    std::optional<int32_t> parallel = std::nullopt;
  };
  const std::optional<int32_t> on = LLAMA_FLASH_ATTN_TYPE_ENABLED;
  const std::optional<int32_t> off = LLAMA_FLASH_ATTN_TYPE_DISABLED;
  const Case cases[] = {
      {{}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "+6"}}, 6, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "64"}}, 64, std::nullopt, std::nullopt},  // no cap when explicit
      {{{"AMBREL_THREADS", "0"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "-4"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", " 8"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "8 "}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "eight"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", ""}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_FLASH_ATTN", "2"}}, 4, on, std::nullopt},
      {{{"AMBREL_FLASH_ATTN", "0"}}, 4, off, std::nullopt},
      {{{"AMBREL_FLASH_ATTN", "-1"}}, 4, off, std::nullopt},
      {{{"AMBREL_FLASH_ATTN", "on"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_SWA_FULL", "1"}}, 4, std::nullopt, true},
      {{{"AMBREL_SWA_FULL", "0"}}, 4, std::nullopt, false},
      {{{"AMBREL_SWA_FULL", "true"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_SWA_FULL", "01"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_SWA_FULL", "+1"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_PARALLEL", "1"}}, 4, std::nullopt, std::nullopt, 1},
      {{{"AMBREL_PARALLEL", "+6"}}, 4, std::nullopt, std::nullopt, 6},
      {{{"AMBREL_PARALLEL", "1000"}}, 4, std::nullopt, std::nullopt, MAX_PARALLEL},
      {{{"AMBREL_PARALLEL", "0"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_PARALLEL", "-2"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_PARALLEL", "four"}}, 4, std::nullopt, std::nullopt},
      {{{"AMBREL_THREADS", "3"}, {"AMBREL_FLASH_ATTN", "1"}, {"AMBREL_SWA_FULL", "1"}},
       3,
       on,
       true},
  };
  for (const Case& c : cases) {
    auto env = [&c](const char* name) -> std::optional<std::string> {
      auto found = c.env.find(name);
      if (found == c.env.end()) return std::nullopt;
      return found->second;
    };
    ContextSettings settings = context_settings(env, 8);
    std::string label;
    for (const auto& [name, value] : c.env) label += name + "=\"" + value + "\" ";
    EXPECT_EQ(settings.threads, c.threads) << label;
    EXPECT_EQ(settings.flash_attn_type, c.flash_attn) << label;
    EXPECT_EQ(settings.swa_full, c.swa_full) << label;
    EXPECT_EQ(settings.parallel, c.parallel) << label;
  }
}

TEST(GpuLayersFor, OffloadsEverythingOnlyBesideAGpuBackend) {
  for (const char* gpu :
       {"libggml-vulkan.so", "libggml-metal.so", "libggml-cuda.so", "libggml-hip.so"}) {
    TempDir dir;
    testing::write_bytes(dir.file("libllama.so"), "");
    EXPECT_EQ(gpu_layers_for(dir.path()), 0);
    testing::write_bytes(dir.file(gpu), "");
    EXPECT_EQ(gpu_layers_for(dir.path()), -1) << gpu;
  }
}

class ModelTest : public RealEngineTest {};

TEST_F(ModelTest, LoadFailuresNameThePathAsGiven) {
  QUORVEL_REQUIRE_REAL_ENGINE();
  auto api = bind_runtime(testing::real_engine_dir());
  ASSERT_TRUE(api) << api.error().message;

  TempDir dir;
  testing::write_bytes(dir.file("broken.gguf"), "GGUF but not really");
  for (const std::string& path : {std::string("no/such/model.gguf"), dir.file("broken.gguf")}) {
    auto engine = load_model(*api, path, 0);
    ASSERT_FALSE(engine);
    EXPECT_EQ(engine.error().message, "failed to load model " + path);
  }
  auto nul = load_model(*api, fs::path(std::string("model\0.gguf", 11)), 0);
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().message, "model path contains NUL");
}

TEST_F(ModelTest, ContextsAreSizedAndTunedAndStartEmpty) {
  QUORVEL_LOAD_MODEL("tiny.gguf");
  auto n_threads = find_symbol(engine().api().llama, "llama_n_threads");
  ASSERT_TRUE(n_threads);

  testing::ScopedEnv env;
  env.set("AMBREL_THREADS", "1");
  env.unset("AMBREL_PARALLEL");
  auto first = create_context(engine());
  ASSERT_TRUE(first) << first.error().message;
  EXPECT_EQ((*first)->context_length(), CONTEXT_POSITIONS);
  EXPECT_EQ(reinterpret_cast<int32_t (*)(llama_context*)>(*n_threads)((*first)->context()), 1);
  ASSERT_TRUE((*first)->generate("<start_of_turn>user\nHi", 2, SamplingParams{}));
  EXPECT_FALSE((*first)->prompt_tokens().empty());

  // Prompts go together on four sequences on the CPU unless told otherwise.
  EXPECT_EQ((*first)->sequences(), 4);
  env.set("AMBREL_PARALLEL", "1");
  EXPECT_EQ((*create_context(engine()))->sequences(), 1);

  // The next tool call's context carries nothing over.
  auto second = create_context(engine());
  ASSERT_TRUE(second) << second.error().message;
  EXPECT_TRUE((*second)->prompt_tokens().empty());
}

}  // namespace
}  // namespace quorvel
