#include "engine/remote/http_transfer.h"

#include <curl/curl.h>
#include <fmt/core.h>

#include <algorithm>

namespace quorvel {

HttpTransfer::HttpTransfer(HttpRequest request, std::function<bool(std::string_view)> sink)
    : request_(std::move(request)), sink_(std::move(sink)), easy_(curl_easy_init()) {
  if (easy_ == nullptr) return;
  curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, message_);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(request_.connect_timeout.count() * 1000));
  if (request_.total_timeout.count() > 0) {
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(request_.total_timeout.count() * 1000));
  }
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, on_data);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
  // A redirect would send the document's text somewhere the user did not name.
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
  if (!request_.api_key.empty()) {
    headers_ = curl_slist_append(headers_, ("Authorization: Bearer " + request_.api_key).c_str());
  }
  if (!request_.body.empty()) {
    headers_ = curl_slist_append(headers_, "Content-Type: application/json");
    headers_ = curl_slist_append(headers_, "Accept: text/event-stream, application/json");
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request_.body.data());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request_.body.size()));
  }
  if (headers_ != nullptr) curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
}

HttpTransfer::~HttpTransfer() {
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  curl_slist_free_all(headers_);
}

long HttpTransfer::status() const {
  long status = 0;
  if (easy_ != nullptr) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

std::string HttpTransfer::failure(int code) const {
  if (easy_ == nullptr) return "could not start a request";
  if (too_large_) return fmt::format("response larger than {} bytes", MAX_RESPONSE_BYTES);
  if (message_[0] != '\0') return message_;
  return curl_easy_strerror(static_cast<CURLcode>(code));
}

std::size_t HttpTransfer::on_data(char* data, std::size_t size, std::size_t count, void* self) {
  auto& transfer = *static_cast<HttpTransfer*>(self);
  const std::size_t bytes = size * count;
  transfer.received_ += bytes;
  if (transfer.received_ > MAX_RESPONSE_BYTES) {
    transfer.too_large_ = true;
    return 0;
  }
  if (transfer.status() != 200) {
    const std::size_t room = MAX_ERROR_BODY_BYTES - transfer.error_body_.size();
    transfer.error_body_.append(data, std::min(room, bytes));
    return bytes;
  }
  if (!transfer.sink_(std::string_view(data, bytes))) {
    transfer.stopped_by_sink_ = true;
    return 0;
  }
  return bytes;
}

HttpMulti::HttpMulti() : multi_(curl_multi_init()) {}

HttpMulti::~HttpMulti() {
  curl_multi_cleanup(multi_);
}

void HttpMulti::add(HttpTransfer& transfer) {
  if (transfer.handle() != nullptr) curl_multi_add_handle(multi_, transfer.handle());
}

void HttpMulti::remove(HttpTransfer& transfer) {
  if (transfer.handle() != nullptr) curl_multi_remove_handle(multi_, transfer.handle());
}

std::vector<std::pair<HttpTransfer*, int>> HttpMulti::run(std::chrono::milliseconds wait) {
  int running = 0;
  curl_multi_perform(multi_, &running);
  auto ended = collect();
  if (!ended.empty()) return ended;
  // Waits the whole time also with nothing in flight: a caller waiting for a server to come
  // back sleeps here, woken early by `wake`.
  curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
  curl_multi_perform(multi_, &running);
  return collect();
}

std::vector<std::pair<HttpTransfer*, int>> HttpMulti::collect() {
  std::vector<std::pair<HttpTransfer*, int>> ended;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    HttpTransfer* transfer = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
    ended.emplace_back(transfer, static_cast<int>(message->data.result));
  }
  for (auto& [transfer, code] : ended) curl_multi_remove_handle(multi_, transfer->handle());
  return ended;
}

void HttpMulti::wake() {
  curl_multi_wakeup(multi_);
}

}  // namespace quorvel
