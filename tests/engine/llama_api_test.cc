#include "engine/llama_api.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "engine/engine_support.h"
#include "engine/runtime_cache.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::fake_engine_dir;
using testing::mappings_under;
using testing::ScopedEnv;
using testing::TempDir;

bool cached(const fs::path& dir) {
  RuntimeCache& cache = runtime_cache();
  std::lock_guard lock(cache.mutex);
  return cache.entries.count(canonical_path(dir)->native()) > 0;
}

template <class T>
T& exported(LibraryHandle library, const char* name) {
  auto address = find_symbol(library, name);
  EXPECT_TRUE(address.has_value()) << name;
  return *static_cast<T*>(*address);
}

TEST(EntryPoints, AreListedOnceWithTheirLibraries) {
  std::set<std::string> names;
  for (const auto& entry : LLAMA_ENTRY_POINTS) names.insert(entry.name);
  EXPECT_EQ(names.size(), 45u);
  EXPECT_STREQ(LLAMA_ENTRY_POINTS[0].name, "llama_backend_init");
  EXPECT_STREQ(LLAMA_ENTRY_POINTS[44].name, "llama_sampler_free");
  EXPECT_EQ(LLAMA_ENTRY_POINTS[4].library, RuntimeLibrary::ggml_base);  // ggml_backend_dev_type
  EXPECT_EQ(LLAMA_ENTRY_POINTS[9].library, RuntimeLibrary::ggml);       // ggml_backend_load
}

TEST(LibraryFile, FindsAnyKindOfEntryAndNothingElse) {
  TempDir dir;
  testing::write_bytes(dir.file("libllama.so"), "");
  fs::create_directory(dir.file("libggml.so"));
  fs::create_symlink("nowhere", dir.file("libggml-base.so"));
  EXPECT_EQ(library_file(dir.path(), "llama"), fs::path(dir.file("libllama.so")));
  EXPECT_TRUE(library_file(dir.path(), "ggml"));
  EXPECT_FALSE(library_file(dir.path(), "ggml-base"));  // a dangling link: the query fails
  EXPECT_FALSE(library_file(dir.path(), "ggml-vulkan"));
}

TEST(BindRuntime, MissingDirectoryFailsWithTheSystemMessage) {
  auto api = bind_runtime("/nonexistent/quorvel/engine");
  ASSERT_FALSE(api);
  EXPECT_EQ(api.error().message, "No such file or directory");
}

TEST(BindRuntime, DirectoryWithoutGgmlNamesItAndTheCanonicalDirectory) {
  TempDir dir;
  fs::copy_file(fake_engine_dir("complete") / "libllama.so", dir.file("libllama.so"));
  fs::create_directory(dir.file("sub"));
  auto api = bind_runtime(dir.file("sub/.."));
  ASSERT_FALSE(api);
  EXPECT_EQ(api.error().message, "libggml.so not found in " + canonical_path(dir.path())->string());
}

TEST(BindRuntime, LibraryThatCannotLoadIsNamedAndTheOthersAreReleased) {
  TempDir dir;
  for (const char* name : {"libggml.so", "libggml-base.so"}) {
    fs::copy_file(fake_engine_dir("complete") / name, dir.file(name));
  }
  testing::write_bytes(dir.file("libllama.so"), "not a shared library");
  auto api = bind_runtime(dir.path());
  ASSERT_FALSE(api);
  std::string prefix = "failed to load " + canonical_path(dir.path())->string() + "/libllama.so: ";
  EXPECT_EQ(api.error().message.substr(0, prefix.size()), prefix);
  EXPECT_GT(api.error().message.size(), prefix.size());  // the loader's reason follows
  EXPECT_TRUE(mappings_under(canonical_path(dir.path()).value()).empty());
  EXPECT_FALSE(cached(dir.path()));
}

// Missing entry points fail the binding even when they are never called, and release all
// three libraries again.
TEST(BindRuntime, MissingSymbolFailsAndReleasesTheLibraries) {
  struct Case {
    const char* variant;
    const char* symbol;
  };
  for (const Case& c : {Case{"no-seq-cp", "llama_memory_seq_cp"},
                        Case{"no-load-all", "ggml_backend_load_all_from_path"}}) {
    SCOPED_TRACE(c.variant);
    fs::path dir = fake_engine_dir(c.variant);
    auto api = bind_runtime(dir);
    ASSERT_FALSE(api);
    std::string prefix = std::string("missing symbol ") + c.symbol + ": ";
    EXPECT_EQ(api.error().message.substr(0, prefix.size()), prefix);
    EXPECT_NE(api.error().message.find(c.symbol, prefix.size()), std::string::npos)
        << "the loader's text names the symbol: " << api.error().message;
    EXPECT_TRUE(mappings_under(dir).empty());
    EXPECT_FALSE(cached(dir));
  }
}

TEST(BindRuntime, BindsOnceAndWithoutLogSetters) {
  fs::path dir = fake_engine_dir("complete");
  TempDir links;
  fs::create_directory_symlink(dir, links.file("engine"));

  auto first = bind_runtime(dir);
  ASSERT_TRUE(first) << first.error().message;
  auto again = bind_runtime(links.file("engine"));
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(first->get(), again->get());
  EXPECT_EQ(exported<int>((*first)->llama, "fake_backend_init_calls"), 1);
  EXPECT_STREQ(&exported<char>((*first)->ggml, "fake_backend_dir"), canonical_path(dir)->c_str());
  EXPECT_TRUE(cached(links.file("engine")));
}

TEST(BindRuntime, SilencesTheRuntimeLogUnlessAmbrelLogIsSet) {
  for (bool keep_log : {false, true}) {
    SCOPED_TRACE(keep_log ? "AMBREL_LOG empty" : "AMBREL_LOG unset");
    ScopedEnv env;
    if (keep_log) {
      env.set("AMBREL_LOG", "");
    } else {
      env.unset("AMBREL_LOG");
    }
    // A fresh spelling of the directory each round would still hit the cache, so each round
    // binds its own copy.
    TempDir dir;
    for (const char* name : {"libggml.so", "libggml-base.so", "libllama.so"}) {
      fs::copy_file(fake_engine_dir("log-setters") / name, dir.file(name));
    }
    auto api = bind_runtime(dir.path());
    ASSERT_TRUE(api) << api.error().message;
    for (LibraryHandle library : {(*api)->ggml, (*api)->ggml_base, (*api)->llama}) {
      EXPECT_EQ(exported<int>(library, "fake_log_set_calls"), keep_log ? 0 : 1);
      EXPECT_EQ(exported<const void*>(library, "fake_log_callback") != nullptr, !keep_log);
    }
  }
}

TEST(BindRuntime, BindsTheFetchedEngineOnceThroughAnySpelling) {
  QUORVEL_REQUIRE_REAL_ENGINE();
  TempDir links;
  fs::create_directory_symlink(testing::real_engine_dir(), links.file("engine"));

  auto first = bind_runtime(testing::real_engine_dir());
  ASSERT_TRUE(first) << first.error().message;
  auto again = bind_runtime(links.file("engine"));
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(first->get(), again->get());
  EXPECT_NE((*first)->llama_decode, nullptr);
  EXPECT_NE((*first)->llama_sampler_free, nullptr);
  EXPECT_GT((*first)->ggml_backend_dev_count(), 0u);  // the CPU backend registered itself
}

}  // namespace
}  // namespace quorvel
