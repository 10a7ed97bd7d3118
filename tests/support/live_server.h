#pragma once
// Runs the server loop on its own thread with input that the test feeds line by line and
// output that the test reads line by line as it arrives, as a client on a pipe would.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <istream>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "server/catalogue.h"
#include "server/mcp_server.h"

namespace quorvel::testing {

// Input whose reads wait until the test sends more or closes it.
class FedInput : public std::streambuf {
 public:
  void send(const std::string& line) {
    {
      std::lock_guard lock(mutex_);
      pending_ += line + "\n";
    }
    changed_.notify_all();
  }
  void close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }

 protected:
  int_type underflow() override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !pending_.empty() || closed_; });
    if (pending_.empty()) return traits_type::eof();
    chunk_.swap(pending_);
    pending_.clear();
    setg(chunk_.data(), chunk_.data(), chunk_.data() + chunk_.size());
    return traits_type::to_int_type(chunk_[0]);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;  // guarded by mutex_
  bool closed_ = false;  // guarded by mutex_
  std::string chunk_;    // the reader's only
};

// Output collected into lines that the test can wait for.
class LineOutput : public std::streambuf {
 public:
  /// The n-th line (from 0), waiting up to `timeout` for it; empty if it never came.
  std::string line(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return lines_.size() > n; });
    return lines_.size() > n ? lines_[n] : std::string();
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard lock(mutex_);
    for (std::streamsize i = 0; i < n; ++i) {
      if (s[i] == '\n') {
        lines_.push_back(partial_);
        partial_.clear();
      } else {
        partial_ += s[i];
      }
    }
    changed_.notify_all();
    return n;
  }
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by mutex_
  std::string partial_;             // guarded by mutex_
};

class LiveServer {
 public:
  LiveServer() : server_(make_server()), in_(&input_), out_(&output_) {}
  ~LiveServer() { close(); }

  McpServer& server() { return server_; }
  void start() {
    thread_ = std::thread([this] { run_server(server_, in_, out_); });
  }
  void send(const std::string& line) { input_.send(line); }
  std::string line(std::size_t n) { return output_.line(n); }
  /// Ends the input and waits for the loop to finish its calls.
  std::vector<std::string> close() {
    input_.close();
    if (thread_.joinable()) thread_.join();
    return output_.lines();
  }

 private:
  McpServer server_;
  FedInput input_;
  LineOutput output_;
  std::istream in_;
  std::ostream out_;
  std::thread thread_;
};

}  // namespace quorvel::testing
