#pragma once
// HTTP requests run side by side on one curl multi handle, each response body handed over as
// it arrives. Only the engine's remote code talks HTTP through this; nothing here knows the
// completion APIs.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using CURL = void;
using CURLM = void;
struct curl_slist;

namespace quorvel {

/// A response body beyond this many bytes ends its request.
inline constexpr uint64_t MAX_RESPONSE_BYTES = 64ull << 20;
/// The body of a response that is not 200 is kept up to this size, for its message.
inline constexpr std::size_t MAX_ERROR_BODY_BYTES = 64u << 10;

struct HttpRequest {
  std::string url;
  std::string body;  // JSON for a POST; empty for a GET
  std::chrono::seconds connect_timeout{10};
  std::chrono::seconds total_timeout{0};  // 0: none (the caller watches for silence)
  std::string api_key;                    // sent as a bearer token when not empty
};

/// One request and what came back. The sink sees the body of a 200 response piece by piece
/// and returns false to end the request.
class HttpTransfer {
 public:
  HttpTransfer(HttpRequest request, std::function<bool(std::string_view)> sink);
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;
  ~HttpTransfer();

  const std::string& url() const { return request_.url; }
  long status() const;
  /// The body of a response that was not 200 (truncated to MAX_ERROR_BODY_BYTES).
  const std::string& error_body() const { return error_body_; }
  /// Why the transfer failed below HTTP (connection, limits), once it has ended.
  std::string failure(int code) const;
  /// Whether the sink itself ended the request.
  bool stopped_by_sink() const { return stopped_by_sink_; }
  CURL* handle() const { return easy_; }

 private:
  static std::size_t on_data(char* data, std::size_t size, std::size_t count, void* self);

  HttpRequest request_;
  std::function<bool(std::string_view)> sink_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string error_body_;
  uint64_t received_ = 0;
  bool too_large_ = false;
  bool stopped_by_sink_ = false;
  char message_[256] = {};
};

/// Requests in flight. Not thread-safe, except `wake`, which any thread may call.
class HttpMulti {
 public:
  HttpMulti();
  HttpMulti(const HttpMulti&) = delete;
  HttpMulti& operator=(const HttpMulti&) = delete;
  ~HttpMulti();

  /// Starts `transfer`, which must stay alive until it is removed.
  void add(HttpTransfer& transfer);
  /// Ends `transfer` wherever it is: its connection is closed if it was still open.
  void remove(HttpTransfer& transfer);
  /// Moves every request on, waiting up to `wait` for something to happen (or `wake`).
  /// Gives the requests that ended, each with its curl code (0: the body is complete).
  std::vector<std::pair<HttpTransfer*, int>> run(std::chrono::milliseconds wait);
  /// Makes a `run` waiting now return early.
  void wake();

 private:
  std::vector<std::pair<HttpTransfer*, int>> collect();

  CURLM* multi_;
};

}  // namespace quorvel
