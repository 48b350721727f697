#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace tarvel {

// Where the body of a response goes. The transfer calls open() once the
// answer's status is known to be wanted, write() for every piece of the body,
// then either commit() when the whole body arrived or abandon() when it did
// not. A sink that refuses a call (returns false) ends the transfer.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  [[nodiscard]] virtual bool open() = 0;
  [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
  [[nodiscard]] virtual bool commit() = 0;
  virtual void abandon() = 0;
};

// Keeps a small document in memory; for manifests and settings copies that
// are read at once.
class StringSink final : public HttpSink {
 public:
  [[nodiscard]] bool open() override {
    body_.clear();
    return true;
  }
  [[nodiscard]] bool write(const char* data, std::size_t size) override {
    body_.append(data, size);
    return true;
  }
  [[nodiscard]] bool commit() override { return true; }
  void abandon() override { body_.clear(); }

  [[nodiscard]] const std::string& body() const { return body_; }

 private:
  std::string body_;
};

struct HttpGetOptions {
  // Sent as the User-Agent header; empty sends none.
  std::string user_agent;
  // Longest wait for the connection to be made; 0 leaves the library's default.
  long connect_timeout_ms = 0;
  // A transfer slower than 1 byte per second for this many seconds fails;
  // 0 waits forever (only for callers that have their own limit).
  long stall_seconds = 60;
  // Only these statuses deliver a body to the sink; 0 accepts any 2xx.
  long wanted_status = 0;
  // When set, the transfer gives up as a transfer failure soon after this
  // turns true (within about a second, however slow the server): how a
  // program that is ending stops its downloads.
  const std::atomic<bool>* cancel = nullptr;
  // For get_file: the folder the target lies beneath (the application
  // directory). No symbolic link below it is followed on the way to the
  // target; "" resolves the target as the system does.
  std::string confined_to;
};

struct HttpResult {
  enum class Outcome {
    complete,  // the wanted status and the whole body, committed by the sink
    status,    // the server answered with a status the caller did not want
    transfer,  // no answer, or the body broke off, was short, or stalled
    sink,      // the sink refused the body (local file not creatable, ...)
  };
  Outcome outcome = Outcome::transfer;
  long status = 0;  // the HTTP status, 0 when none arrived

  [[nodiscard]] bool ok() const { return outcome == Outcome::complete; }
};

// HTTP(S) GET of one address. A body counts as received only when it is
// complete: a connection that drops early or a body shorter than its
// announced length is a transfer failure, and the sink is then abandoned.
// Implementations catch their own errors; nothing is thrown.
class HttpGet {
 public:
  virtual ~HttpGet() = default;

  [[nodiscard]] virtual HttpResult get(const std::string& address, const HttpGetOptions& options,
                                       HttpSink& sink) = 0;

  // GET into a file: the body goes to a temporary file in the target's folder
  // that replaces the target only once complete, so the target is never left
  // truncated. target is a path in the system's own form (Files::native_path).
  [[nodiscard]] virtual HttpResult get_file(const std::string& address,
                                            const HttpGetOptions& options,
                                            const std::string& target) = 0;
};

}  // namespace tarvel
