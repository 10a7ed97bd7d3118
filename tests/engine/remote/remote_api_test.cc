// The settings, request bodies, server descriptions, error replies and rotation of the remote
// engine: everything that needs no network.

#include "engine/remote/remote_api.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "engine/remote/server_pool.h"
#include "engine/remote/settings.h"

namespace quorvel {
namespace {

using Json = nlohmann::json;

Result<std::optional<RemoteSettings>> read(std::map<std::string, std::string> vars) {
  return read_remote_settings([&](const char* name) -> std::optional<std::string> {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  });
}

TEST(RemoteSettings, ReadsAddressesAndKnobs) {
  auto none = read({{"TRANSLATE_LLM_URL", " "}});
  ASSERT_TRUE(none.has_value());
  EXPECT_FALSE(none->has_value());

  auto some = read({{"TRANSLATE_LLM_URL", "http://gpu1:8080/, https://gpu2/v1,,"},
                    {"TRANSLATE_LLM_SLOTS", "8"},
                    {"TRANSLATE_LLM_TIMEOUT", "30"},
                    {"TRANSLATE_LLM_API_KEY", "s3cret"}});
  ASSERT_TRUE(some.has_value() && some->has_value()) << some.error().message;
  const RemoteSettings& settings = **some;
  ASSERT_EQ(settings.servers.size(), 2u);
  EXPECT_EQ(settings.servers[0].base, "http://gpu1:8080");
  EXPECT_EQ(settings.servers[0].api, RemoteApi::native);
  EXPECT_EQ(settings.servers[1].base, "https://gpu2/v1");
  EXPECT_EQ(settings.servers[1].api, RemoteApi::openai);
  EXPECT_EQ(settings.slots, 8);
  EXPECT_EQ(settings.idle_timeout, std::chrono::seconds(30));
  EXPECT_EQ(settings.api_key, "s3cret");
}

TEST(RemoteSettings, RefusesValuesItCannotUse) {
  const std::pair<std::map<std::string, std::string>, const char*> bad[] = {
      {{{"TRANSLATE_LLM_URL", "gpu1:8080"}}, "TRANSLATE_LLM_URL=gpu1:8080: each address must"},
      {{{"TRANSLATE_LLM_URL", "http://"}}, "names no host"},
      {{{"TRANSLATE_LLM_URL", "http://a b"}}, "no spaces"},
      {{{"TRANSLATE_LLM_URL", "http://a"}, {"TRANSLATE_LLM_SLOTS", "0"}}, "TRANSLATE_LLM_SLOTS=0"},
      {{{"TRANSLATE_LLM_URL", "http://a"}, {"TRANSLATE_LLM_SLOTS", "4x"}}, "expected 1 to 256"},
      {{{"TRANSLATE_LLM_URL", "http://a"}, {"TRANSLATE_LLM_TIMEOUT", "-1"}}, "seconds"},
      {{{"TRANSLATE_LLM_URL", "http://a"}, {"TRANSLATE_LLM_API_KEY", "a\nb"}}, "line break"},
  };
  for (const auto& [vars, message] : bad) {
    auto settings = read(vars);
    ASSERT_FALSE(settings.has_value()) << message;
    EXPECT_NE(settings.error().message.find(message), std::string::npos)
        << settings.error().message;
  }
}

TEST(RemoteApi, BodiesCarryThePromptBytesAndSampling) {
  const SamplingParams params{0.2f, 64, 0.95f, 24301};
  const std::string prompt = "<start_of_turn>user\n\"Hé\"\n<end_of_turn>\n";
  Json native =
      Json::parse(completion_body({"http://a", RemoteApi::native}, "", prompt, 77, params));
  EXPECT_EQ(native["prompt"], prompt);
  EXPECT_EQ(native["n_predict"], 77);
  EXPECT_EQ(native["cache_prompt"], true);
  EXPECT_EQ(native["stream"], true);
  EXPECT_EQ(native["top_k"], 64);
  EXPECT_EQ(native["seed"], 24301);
  Json openai =
      Json::parse(completion_body({"http://a/v1", RemoteApi::openai}, "m", prompt, 77, params));
  EXPECT_EQ(openai["model"], "m");
  EXPECT_EQ(openai["max_tokens"], 77);
  EXPECT_FALSE(openai.contains("samplers"));
  EXPECT_EQ(completion_url({"http://a", RemoteApi::native}), "http://a/completion");
  EXPECT_EQ(completion_url({"http://a/v1", RemoteApi::openai}), "http://a/v1/completions");
}

TEST(RemoteApi, DescriptionsOfBothKinds) {
  auto props = read_description({"http://a", RemoteApi::native},
                                R"({"total_slots":4,"model_alias":"translategemma-4b"})");
  ASSERT_TRUE(props.has_value());
  EXPECT_EQ(props->slots, 4);
  EXPECT_EQ(props->model, "translategemma-4b");
  auto models = read_description({"http://a/v1", RemoteApi::openai},
                                 R"({"data":[{"id":"google/gemma-3-4b"}]})");
  ASSERT_TRUE(models.has_value());
  EXPECT_EQ(models->model, "google/gemma-3-4b");
  EXPECT_FALSE(read_description({"http://a", RemoteApi::native}, R"({"model_alias":"x"})"));
  EXPECT_FALSE(read_description({"http://a", RemoteApi::native}, "<html>"));
  EXPECT_FALSE(read_description({"http://a/v1", RemoteApi::openai}, R"({"data":[]})"));
  EXPECT_TRUE(is_expected_family("TranslateGemma-4B-it"));
  EXPECT_FALSE(is_expected_family("llama-3.1-8b"));
}

TEST(RemoteApi, ErrorRepliesKeepTheServersWords) {
  EXPECT_EQ(http_error_message(400, R"({"error":{"code":400,"message":"too long"}})"),
            "HTTP 400: too long");
  EXPECT_EQ(http_error_message(503, R"({"error":"Loading model"})"), "HTTP 503: Loading model");
  EXPECT_EQ(http_error_message(502, "<html><body>Bad gateway</body></html>"), "HTTP 502");
  EXPECT_EQ(http_error_message(500, "plain words\n"), "HTTP 500: plain words");
  EXPECT_EQ(http_error_message(500, std::string(2000, 'x')).size(), 500u + 10u);
  EXPECT_TRUE(blames_request(400));
  for (long status : {401, 404, 408, 429, 500, 503}) EXPECT_FALSE(blames_request(status));
}

TEST(ServerPool, FailuresTakeAServerOutLongerUntilItIsGivenUp) {
  RemoteSettings settings;
  settings.servers = {{"http://a", RemoteApi::native}, {"http://b", RemoteApi::native}};
  ServerPool pool(settings);
  const auto t0 = RemoteClock::now();
  pool.failed(0, "refused", t0, t0);
  EXPECT_FALSE(pool.in_rotation(0, t0));
  EXPECT_TRUE(pool.in_rotation(0, t0 + std::chrono::seconds(1)));
  EXPECT_EQ(pool.next_return(t0), t0 + std::chrono::seconds(1));
  // A request that started before that failure shares it.
  EXPECT_FALSE(pool.failed(0, "refused", t0, t0 - std::chrono::seconds(1)));
  for (int i = 1; i < MAX_STRIKES; ++i) pool.failed(0, "refused", t0, t0);
  EXPECT_FALSE(pool.next_return(t0).has_value());  // given up: not waited for
  EXPECT_FALSE(pool.all_given_up(t0));
  pool.answered(0);  // a success forgives earlier failures
  for (int i = 0; i < MAX_STRIKES; ++i) pool.failed(0, "refused", t0, t0);
  for (int i = 0; i < MAX_STRIKES; ++i) pool.failed(1, "HTTP 500: boom", t0, t0);
  EXPECT_TRUE(pool.all_given_up(t0));
  EXPECT_FALSE(pool.all_given_up(t0 + std::chrono::seconds(31)));
  EXPECT_EQ(pool.failure_summary(),
            "no translation server answered (TRANSLATE_LLM_URL): http://a: refused; http://b: "
            "HTTP 500: boom");
}

}  // namespace
}  // namespace quorvel
