#include "translation/memory.h"

#include <fmt/core.h>
#include <sqlite3.h>
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

constexpr int BUSY_TIMEOUT_MS = 5000;

constexpr const char* SCHEMA =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS answers("
    "  key BLOB PRIMARY KEY, answer BLOB NOT NULL, bytes INTEGER NOT NULL, used INTEGER NOT NULL"
    ") WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS answers_by_use ON answers(used);";

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool damaged(int rc) {
  return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

void say(std::FILE* log, const std::string& line) {
  std::fputs(line.c_str(), log);
  std::fflush(log);
}

// A prepared statement, finalized on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  int rc() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }
  void bind_key(int index, const MemoryKey& key) {
    sqlite3_bind_blob(stmt_, index, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

// The folder only its owner may enter, and the file only its owner may read, both before
// SQLite first writes to them. A folder the user chose is left as it is when it exists; our
// own may have been made by a careless earlier run, so it is narrowed (as far as we may).
std::error_code prepare_location(const fs::path& file) {
  std::error_code error;
  const fs::path folder = file.parent_path();
  if (!fs::exists(folder, error)) {
    fs::create_directories(folder.parent_path(), error);
    if (error) return error;
  } else if (folder.filename() == MEMORY_FOLDER_NAME) {
    restrict_to_owner(folder);
  }
  return create_private_file(folder, file);
}

struct Opened {
  sqlite3* db = nullptr;
  int rc = SQLITE_OK;
  std::string reason;
};

Opened open_database(const fs::path& file) {
  if (auto error = prepare_location(file)) return {nullptr, SQLITE_CANTOPEN, error.message()};
  Opened opened;
  opened.rc = sqlite3_open_v2(path_to_utf8(file).c_str(), &opened.db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (opened.rc == SQLITE_OK) {
    sqlite3_busy_timeout(opened.db, BUSY_TIMEOUT_MS);
    // The file may have been made by something else: none of its triggers or views runs,
    // and no write may corrupt it on purpose.
    for (int option : {SQLITE_DBCONFIG_ENABLE_TRIGGER, SQLITE_DBCONFIG_ENABLE_VIEW,
                       SQLITE_DBCONFIG_TRUSTED_SCHEMA}) {
      sqlite3_db_config(opened.db, option, 0, nullptr);
    }
    sqlite3_db_config(opened.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    opened.rc = sqlite3_exec(opened.db, SCHEMA, nullptr, nullptr, nullptr);
  }
  if (opened.rc != SQLITE_OK) {
    opened.reason = opened.db ? sqlite3_errmsg(opened.db) : sqlite3_errstr(opened.rc);
    sqlite3_close_v2(opened.db);
    opened.db = nullptr;
  }
  return opened;
}

// Moves a damaged file (with its log and index files) out of the way under a name that says
// when; nothing of it is deleted.
fs::path move_aside(const fs::path& file) {
  const fs::path aside =
      path_from_utf8(path_to_utf8(file) + fmt::format(".corrupt-{}", std::time(nullptr)));
  std::error_code ignored;
  fs::rename(file, aside, ignored);
  for (const char* suffix : {"-wal", "-shm"}) {
    fs::rename(path_from_utf8(path_to_utf8(file) + suffix),
               path_from_utf8(path_to_utf8(aside) + suffix), ignored);
  }
  return aside;
}

void say_off(std::FILE* log, const fs::path& file, std::string_view reason) {
  say(log, fmt::format("[corvane] translation memory off: {}: {}\n", path_to_utf8(file), reason));
}

// Moves the damaged file aside, says so, and opens a new one in its place.
Opened replace_damaged(const fs::path& file, std::FILE* log) {
  fs::path aside = move_aside(file);
  say(log, fmt::format("[corvane] translation memory {} was damaged; moved it to {} and started "
                       "a new one\n",
                       path_to_utf8(file), path_to_utf8(aside)));
  return open_database(file);
}

uint64_t stored_total(sqlite3* db) {
  Statement total(db, "SELECT total(bytes) FROM answers");
  if (total.rc() != SQLITE_OK || sqlite3_step(total.get()) != SQLITE_ROW) return 0;
  // Another program's rows may hold any number here, negative or beyond any file.
  const double bytes = sqlite3_column_double(total.get(), 0);
  if (!(bytes > 0)) return 0;
  return bytes < 0x1p63 ? static_cast<uint64_t>(bytes) : uint64_t{1} << 63;
}

void hash_part(XXH3_state_t* state, std::string_view bytes) {
  const uint64_t size = bytes.size();
  XXH3_128bits_update(state, &size, sizeof size);
  XXH3_128bits_update(state, bytes.data(), bytes.size());
}

template <class T>
std::string_view bytes_of(const T& value) {
  return {reinterpret_cast<const char*>(&value), sizeof value};
}

std::unexpected<Error> cancelled() {
  return fail(ErrorKind::cancelled, "cancelled");
}

}  // namespace

std::optional<fs::path> memory_file(
    const std::function<std::optional<std::string>(const char*)>& env) {
  if (auto chosen = env("TRANSLATE_MEMORY")) {
    if (*chosen == "off") return std::nullopt;
    if (!chosen->empty()) return path_from_utf8(*chosen) / MEMORY_FILE_NAME;
  }
  fs::path base;
  // Windows keeps per-user caches under LOCALAPPDATA, where it also keeps our model.
  if (auto local = env("LOCALAPPDATA"); local && path_from_utf8(*local).is_absolute()) {
    base = path_from_utf8(*local);
  } else if (auto cache = env("XDG_CACHE_HOME"); cache && path_from_utf8(*cache).is_absolute()) {
    base = path_from_utf8(*cache);
  } else if (auto home = env("HOME"); home && !home->empty()) {
    base = path_from_utf8(*home) / ".cache";
  } else {
    return std::nullopt;
  }
  return base / MEMORY_FOLDER_NAME / MEMORY_FILE_NAME;
}

MemoryKey memory_key(std::string_view identity, std::string_view prompt, uint32_t max_new_tokens,
                     const SamplingParams& params) {
  XXH3_state_t* state = XXH3_createState();
  XXH3_128bits_reset(state);
  hash_part(state, identity);
  hash_part(state, prompt);
  hash_part(state, bytes_of(max_new_tokens));
  hash_part(state, bytes_of(params.temperature));
  hash_part(state, bytes_of(params.top_k));
  hash_part(state, bytes_of(params.top_p));
  hash_part(state, bytes_of(params.seed));
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state));
  XXH3_freeState(state);
  MemoryKey key;
  std::memcpy(key.data(), canonical.digest, key.size());
  return key;
}

std::unique_ptr<TranslationMemory> TranslationMemory::open(const fs::path& file, std::FILE* log,
                                                           uint64_t max_bytes) {
  Opened opened = open_database(file);
  if (damaged(opened.rc)) opened = replace_damaged(file, log);
  if (!opened.db) {
    say_off(log, file, opened.reason);
    return nullptr;
  }
  return std::unique_ptr<TranslationMemory>(new TranslationMemory(opened.db, file, log, max_bytes));
}

TranslationMemory::TranslationMemory(sqlite3* db, fs::path file, std::FILE* log, uint64_t max_bytes)
    : db_(db), file_(std::move(file)), log_(log), max_bytes_(max_bytes) {
  stored_bytes_ = stored_total(db_);
}

TranslationMemory::~TranslationMemory() {
  sqlite3_close_v2(db_);
}

// Whether the step went well. A file found damaged is replaced (once); any other outcome
// turns the memory off for good. Either way the step is not retried.
bool TranslationMemory::check(int rc, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return true;
  if (off_) return false;
  if (damaged(rc) && !started_afresh_) {
    start_afresh();
    return false;
  }
  say_off(log_, file_, fmt::format("{} failed: {}", what, sqlite3_errmsg(db_)));
  off_ = true;
  return false;
}

// Statements still open on the old connection are finalized by their owners later; closing
// with sqlite3_close_v2 waits for them.
void TranslationMemory::start_afresh() {
  started_afresh_ = true;
  sqlite3_close_v2(std::exchange(db_, nullptr));
  Opened opened = replace_damaged(file_, log_);
  db_ = opened.db;
  stored_bytes_ = 0;
  if (!db_) {
    say_off(log_, file_, opened.reason);
    off_ = true;
  }
}

std::optional<std::string> TranslationMemory::find(const MemoryKey& key) {
  if (off_) return std::nullopt;
  Statement select(db_, "SELECT answer FROM answers WHERE key = ?1");
  if (!check(select.rc(), "reading")) return std::nullopt;
  select.bind_key(1, key);
  int rc = sqlite3_step(select.get());
  if (rc != SQLITE_ROW) {
    check(rc, "reading");
    return std::nullopt;
  }
  const auto* data = static_cast<const char*>(sqlite3_column_blob(select.get(), 0));
  std::string answer(data ? data : "",
                     static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 0)));
  Statement touch(db_, "UPDATE answers SET used = ?2 WHERE key = ?1");
  if (check(touch.rc(), "updating")) {
    touch.bind_key(1, key);
    sqlite3_bind_int64(touch.get(), 2, stamp());
    check(sqlite3_step(touch.get()), "updating");
  }
  return answer;
}

void TranslationMemory::store(const MemoryKey& key, std::string_view answer) {
  if (off_) return;
  Statement insert(
      db_, "INSERT OR REPLACE INTO answers(key, answer, bytes, used) VALUES(?1, ?2, ?3, ?4)");
  if (!check(insert.rc(), "writing")) return;
  insert.bind_key(1, key);
  sqlite3_bind_blob(insert.get(), 2, answer.data(), static_cast<int>(answer.size()), SQLITE_STATIC);
  const uint64_t bytes = answer.size() + key.size();
  sqlite3_bind_int64(insert.get(), 3, static_cast<int64_t>(bytes));
  sqlite3_bind_int64(insert.get(), 4, stamp());
  if (!check(sqlite3_step(insert.get()), "writing")) return;
  stored_bytes_ += bytes;
  if (stored_bytes_ > max_bytes_) evict();
}

// Drops the answers used longest ago until the total is under 90% of the bound, so that
// evicting is rare.
void TranslationMemory::evict() {
  stored_bytes_ = stored_total(db_);
  if (stored_bytes_ <= max_bytes_) return;
  const uint64_t excess = stored_bytes_ - max_bytes_ / 10 * 9;
  std::vector<MemoryKey> victims;
  {
    Statement oldest(db_, "SELECT key, bytes FROM answers ORDER BY used");
    if (!check(oldest.rc(), "evicting")) return;
    uint64_t dropped = 0;
    while (dropped < excess && sqlite3_step(oldest.get()) == SQLITE_ROW) {
      MemoryKey key{};
      const void* blob = sqlite3_column_blob(oldest.get(), 0);
      if (blob && sqlite3_column_bytes(oldest.get(), 0) == static_cast<int>(key.size())) {
        std::memcpy(key.data(), blob, key.size());
        victims.push_back(key);
      }
      dropped += static_cast<uint64_t>(std::max<int64_t>(0, sqlite3_column_int64(oldest.get(), 1)));
    }
  }
  // After a failure the transaction is left to the connection's close: the connection may
  // have been replaced meanwhile, and the memory is off or new either way.
  if (!check(sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr), "evicting")) return;
  for (const auto& key : victims) {
    Statement drop(db_, "DELETE FROM answers WHERE key = ?1");
    if (!check(drop.rc(), "evicting")) return;
    drop.bind_key(1, key);
    if (!check(sqlite3_step(drop.get()), "evicting")) return;
  }
  if (!check(sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr), "evicting")) return;
  stored_bytes_ = stored_total(db_);
}

// Use stamps never repeat within a process, so that the order of use is exact.
int64_t TranslationMemory::stamp() {
  last_stamp_ = std::max(now_ms(), last_stamp_ + 1);
  return last_stamp_;
}

Result<std::string> MemoryGenerator::generate(std::string_view prompt, uint32_t max_new_tokens,
                                              const SamplingParams& params,
                                              const GenerationControl& control) {
  if (!memory_) return inner_.generate(prompt, max_new_tokens, params, control);
  if (control.stop.stop_requested()) return cancelled();
  const MemoryKey key = memory_key(identity_, prompt, max_new_tokens, params);
  if (auto known = memory_->find(key)) return std::move(*known);
  auto answer = inner_.generate(prompt, max_new_tokens, params, control);
  if (answer) memory_->store(key, *answer);
  return answer;
}

Result<std::vector<std::string>> MemoryGenerator::generate_many(
    const std::vector<PromptRequest>& prompts, const SamplingParams& params,
    const OnResult& on_result, const GenerationControl& control) {
  if (!memory_) return inner_.generate_many(prompts, params, on_result, control);
  std::vector<std::string> results(prompts.size());
  std::vector<MemoryKey> keys(prompts.size());
  std::vector<std::size_t> missing;  // indices the model must answer, in order
  std::vector<PromptRequest> rest;
  for (std::size_t i = 0; i < prompts.size(); ++i) {
    keys[i] = memory_key(identity_, prompts[i].prompt, prompts[i].max_new_tokens, params);
    if (auto known = memory_->find(keys[i])) {
      if (control.stop.stop_requested()) return cancelled();
      results[i] = std::move(*known);
      if (on_result && !on_result(i, results[i])) return results;
    } else {
      missing.push_back(i);
      rest.push_back(prompts[i]);
    }
  }
  if (rest.empty()) return results;
  // Each new answer is kept the moment it is finished, before anything else can stop the run.
  auto keep = [&](std::size_t j, const std::string& answer) {
    const std::size_t i = missing[j];
    memory_->store(keys[i], answer);
    results[i] = answer;
    return on_result ? on_result(i, answer) : true;
  };
  GenerationControl mapped = control;
  if (control.on_tokens) {
    mapped.on_tokens = [&](std::size_t j, uint64_t done, uint64_t total) {
      control.on_tokens(missing[j], done, total);
    };
  }
  auto answered = inner_.generate_many(rest, params, keep, mapped);
  if (!answered) return std::unexpected(answered.error());
  return results;
}

}  // namespace quorvel
