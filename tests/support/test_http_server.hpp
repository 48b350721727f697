#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tarvel::testing {

// An HTTP server on 127.0.0.1 (a free port chosen by the system) that serves
// the files of one folder, for tests of code that downloads. Individual paths
// can be given a fault. It runs on its own threads from construction to
// destruction.
class TestHttpServer {
 public:
  enum class Fault {
    none,
    not_found,       // 404 with a small error page
    server_error,    // 500 with a small error page
    reset_mid_body,  // chunked body, the connection closes halfway, no last chunk
    short_body,      // Content-Length of the whole file, half the bytes, then close
    stall,           // half the body, then silence until release_stalls() or the end
    hold,            // a byte a second, never the last, until let_go(path); then the rest
  };

  struct Request {
    std::string path;    // without the leading "/"
    std::string target;  // path and query as sent
    std::string user_agent;
    int client_port = 0;
  };

  // Certificate and key (PEM files) for serving HTTPS.
  struct Tls {
    std::string certificate_file;
    std::string key_file;
  };

  // root: folder whose files are served; "/a/b.swf" answers root/a/b.swf.
  explicit TestHttpServer(std::string root);
  // The same over HTTPS.
  TestHttpServer(std::string root, const Tls& tls);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  [[nodiscard]] int port() const;
  // "http://127.0.0.1:<port>/" + path ("https://" when serving HTTPS).
  [[nodiscard]] std::string url(const std::string& path = "") const;

  // Gives every request for the path (without "/") this fault from now on.
  void set_fault(const std::string& path, Fault fault);

  [[nodiscard]] std::vector<Request> requests() const;
  // Number of different client connections that sent requests.
  [[nodiscard]] int connections() const;

  // Waits until this many requests have arrived in all; false at the deadline.
  [[nodiscard]] bool wait_for_requests(std::size_t count, std::chrono::milliseconds deadline);
  // Waits until a stalled answer has sent its first half; false at the deadline.
  [[nodiscard]] bool wait_for_stall(std::chrono::milliseconds deadline);
  void release_stalls();
  // Waits until a request for the held path is waiting; false at the deadline.
  [[nodiscard]] bool wait_for_hold(const std::string& path, std::chrono::milliseconds deadline);
  // Answers the held path's waiting requests, and every later one, in full.
  void let_go(const std::string& path);

 private:
  struct Impl;
  void start();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::testing
