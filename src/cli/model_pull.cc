#include "cli/model_pull.h"

#include <curl/curl.h>
#include <fmt/core.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <memory>
#include <vector>

#include "cli/progress_bar.h"
#include "cli/translate_command.h"
#include "engine/discovery.h"
#include "engine/gguf_header.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A download that moves less than this for this long counts as stalled.
constexpr long STALL_BYTES_PER_SECOND = 1;
constexpr long STALL_SECONDS = 60;

std::string mib(double bytes) {
  return fmt::format("{:.1f} MiB", bytes / (1 << 20));
}

// What the transfer callbacks share: the open partial file and the progress line.
struct Transfer {
  CURL* curl = nullptr;
  GrowingFile* file = nullptr;
  bool placed = false;  // the file offset suits the answer
  bool write_failed = false;
  std::stop_token stop;
  std::FILE* err = nullptr;
  bool terminal = false;
  curl_off_t resumed_from = 0;
  Clock::time_point started = Clock::now();
  Clock::time_point drawn{};
  bool shown = false;

  void draw(curl_off_t now_bytes, curl_off_t total_bytes) {
    if (now_bytes == 0) return;
    const auto now = Clock::now();
    if (now - drawn < (terminal ? std::chrono::milliseconds(200) : std::chrono::seconds(10)))
      return;
    drawn = now;
    const double done = static_cast<double>(resumed_from + now_bytes);
    const double total = total_bytes > 0 ? static_cast<double>(resumed_from + total_bytes) : 0;
    const double seconds = std::chrono::duration<double>(now - started).count();
    const double rate = seconds > 0 ? static_cast<double>(now_bytes) / seconds : 0;
    std::string text = total > 0 ? fmt::format("{} of {}", mib(done), mib(total)) : mib(done);
    if (rate > 0) text += fmt::format(", {}/s", mib(rate));
    if (rate > 0 && total > done) {
      text += fmt::format(
          ", {} left",
          format_duration(std::chrono::seconds(static_cast<long long>((total - done) / rate))));
    }
    if (terminal) {
      std::fprintf(err, "\rdownloading %s\x1b[K", text.c_str());
      shown = true;
    } else {
      std::fprintf(err, "downloading %s\n", text.c_str());
    }
    std::fflush(err);
  }
  void close() {
    if (shown) std::fputs("\r\x1b[K", err);
    shown = false;
  }
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->stop.stop_requested()) return 0;
  // The final answer decides where its body goes (redirects come before it): after what is
  // there for a partial answer, from the start when the server sends the whole file.
  if (!transfer->placed) {
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    auto at = status == 206 ? transfer->file->seek_end() : Result<std::uint64_t>(0);
    if (!at || (status != 206 && !transfer->file->truncate())) {
      transfer->write_failed = true;
      return 0;
    }
    transfer->resumed_from = static_cast<curl_off_t>(*at);
    transfer->placed = true;
  }
  if (!transfer->file->write({data, bytes})) {
    transfer->write_failed = true;
    return 0;
  }
  return bytes;
}

int on_progress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  if (transfer->stop.stop_requested()) return 1;
  transfer->draw(now, total);
  return 0;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct Downloaded {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string reason;
};

// One request for `url` from byte `from` on, written at the end of `partial`; a server that
// ignores the range sends the whole file, which then replaces what was there.
Downloaded fetch(const std::string& url, const fs::path& partial, Transfer& transfer) {
  std::error_code error;
  const curl_off_t from =
      fs::exists(partial, error) ? static_cast<curl_off_t>(fs::file_size(partial, error)) : 0;
  auto file = GrowingFile::open(partial);
  if (!file) return {CURLE_WRITE_ERROR, 0, file.error().cause};
  transfer.file = &*file;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  char message[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  // Model hubs redirect once or twice, to a storage host; a loop ends here.
  curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, STALL_BYTES_PER_SECOND);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, STALL_SECONDS);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, on_progress);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  if (from > 0) curl_easy_setopt(curl.get(), CURLOPT_RANGE, fmt::format("{}-", from).c_str());
  transfer.curl = curl.get();
  Downloaded result;
  result.code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
  result.reason = message[0] ? message : curl_easy_strerror(result.code);
  if (auto synced = file->sync_and_close(); !synced && result.code == CURLE_OK)
    result = {CURLE_WRITE_ERROR, 0, synced.error().cause};
  transfer.file = nullptr;
  transfer.close();
  return result;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void advise(std::FILE* out, const std::optional<fs::path>& place) {
  std::fprintf(
      out,
      "The default model is %s: TranslateGemma 4B in GGUF form, quantized to Q4_K_M, about "
      "2.5 GB (and about 5 GiB of memory while translating).\n"
      "Find it on a GGUF model hub (search for \"translategemma-4b-it GGUF\"), then run\n"
      "  quorvel model pull <download address> [--sha256 <checksum the hub shows>]\n"
      "or put the file at %s yourself.\n",
      MODEL_FILE_NAME,
      place ? path_to_utf8(*place).c_str() : "<data folder>/com.quorvel.translate/models/");
}

}  // namespace

int run_model_pull(const PullOptions& options, std::stop_token stop, std::FILE* out, std::FILE* err,
                   bool terminal) {
  const auto place = installed_model_path();
  if (!options.url) {
    advise(out, place);
    return 0;
  }
  if (!place) {
    std::fprintf(err, "no per-user data folder (set HOME or XDG_DATA_HOME)\n");
    return EXIT_FAILED;
  }
  std::error_code error;
  fs::create_directories(place->parent_path(), error);
  // A fixed name beside the model, so that the next run finds what this one got; beside it the
  // address it came from, so that a part of another file is never continued.
  const fs::path partial = fs::path(*place) += ".part";
  const fs::path source = fs::path(*place) += ".part.url";
  {
    std::ifstream known(source);
    std::string known_url;
    if (!std::getline(known, known_url) || known_url != *options.url) fs::remove(partial, error);
    std::ofstream(source) << *options.url << "\n";
  }
  // Whatever happens below, the address goes when the part does.
  struct ForgetSource {
    const fs::path& partial;
    const fs::path& source;
    ~ForgetSource() {
      std::error_code ignored;
      if (!fs::exists(partial, ignored)) fs::remove(source, ignored);
    }
  } forget{partial, source};
  Transfer transfer;
  transfer.stop = stop;
  transfer.err = err;
  transfer.terminal = terminal;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Downloaded got = fetch(*options.url, partial, transfer);
  curl_global_cleanup();
  if (stop.stop_requested()) {
    std::fprintf(err, "stopped; run the same command again to resume\n");
    return EXIT_STOPPED;
  }
  // A range past the end: what was there is already the whole file; the checks below say.
  const bool complete_before = got.code == CURLE_HTTP_RETURNED_ERROR && got.status == 416;
  if (got.code != CURLE_OK && !complete_before) {
    const auto kept = fs::exists(partial, error) ? fs::file_size(partial, error) : 0;
    if (kept == 0) fs::remove(partial, error);  // nothing worth resuming
    std::fprintf(err, "downloading %s failed: %s%s\n", options.url->c_str(), got.reason.c_str(),
                 kept > 0 ? fmt::format("; {} kept, run the same command again to resume",
                                        mib(static_cast<double>(kept)))
                                .c_str()
                          : "");
    return EXIT_FAILED;
  }
  if (options.sha256) {
    const std::string actual = file_sha256(partial);
    if (actual != lower(*options.sha256)) {
      fs::remove(partial, error);
      std::fprintf(err, "checksum mismatch: expected %s, got %s; the download was removed\n",
                   lower(*options.sha256).c_str(), actual.c_str());
      return EXIT_FAILED;
    }
  }
  if (auto header = read_gguf_header(path_to_utf8(partial)); !header) {
    fs::remove(partial, error);
    std::fprintf(err, "%s is not a GGUF model; the download was removed\n", options.url->c_str());
    return EXIT_FAILED;
  }
  fs::rename(partial, *place, error);
  if (error) {
    std::fprintf(err, "writing %s: %s\n", path_to_utf8(*place).c_str(), error.message().c_str());
    return EXIT_FAILED;
  }
  std::fprintf(out, "Wrote %s (%s)\n", path_to_utf8(*place).c_str(),
               mib(static_cast<double>(fs::file_size(*place, error))).c_str());
  return 0;
}

}  // namespace quorvel
