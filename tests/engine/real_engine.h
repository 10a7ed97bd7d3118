#pragma once
// A model of the fetched engine loaded for one test, and contexts on it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/engine_support.h"
#include "engine/llama_api.h"
#include "engine/model.h"
#include "platform/env.h"
#include "platform/system.h"

namespace quorvel::testing {

class RealEngineTest : public ::testing::Test {
 protected:
  /// Loads `model_name` from the generated models; the test is skipped (or fails under CI)
  /// when the engine or the model is missing.
  void load(const std::string& model_name) {
    ScopedEnv quiet;
    quiet.unset("AMBREL_LOG");
    auto api = bind_runtime(real_engine_dir());
    ASSERT_TRUE(api) << api.error().message;
    auto loaded = load_model(*api, test_model(model_name), 0);
    ASSERT_TRUE(loaded) << loaded.error().message;
    engine_ = std::make_unique<Engine>(std::move(*loaded));
  }

  /// Settings from the real environment, on one thread: CTest runs two tests at once on
  /// two cores, and ggml's spinning worker threads slow each other down by orders of
  /// magnitude when there are more of them than cores.
  static ContextSettings test_settings() {
    ContextSettings settings = context_settings(&env_var, logical_processor_count());
    settings.threads = 1;
    return settings;
  }

  std::unique_ptr<EngineContext> new_context() { return new_context(test_settings()); }

  std::unique_ptr<EngineContext> new_context(const ContextSettings& settings) {
    auto context = create_context(*engine_, settings);
    EXPECT_TRUE(context) << context.error().message;
    return context ? std::move(*context) : nullptr;
  }

  const Engine& engine() const { return *engine_; }

 private:
  std::unique_ptr<Engine> engine_;
};

}  // namespace quorvel::testing

/// Loads a generated model into the fixture, or skips the test without the real engine.
#define QUORVEL_LOAD_MODEL(name)                                       \
  do {                                                                 \
    QUORVEL_REQUIRE_REAL_ENGINE(::quorvel::testing::test_model(name)); \
    ASSERT_NO_FATAL_FAILURE(load(name));                               \
  } while (0)
