#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvel::testing {

// An HTTP server on 127.0.0.1 (a free port chosen by the system) that serves
// the files of one folder, for tests of code that downloads. It streams
// files from disk, names each version with an ETag and answers range
// requests (with If-Range) as a download server does. Individual paths can
// be given a fault, for every request or for the next few. It runs on its
// own threads from construction to destruction.
class TestHttpServer {
 public:
  enum class Fault {
    none,
    not_found,       // 404 with a small error page
    server_error,    // 500 with a small error page
    reset_mid_body,  // chunked body, the connection closes halfway, no last chunk
    short_body,      // Content-Length of the whole answer, half the bytes, then close
    cut_unsized,     // no Content-Length, half the bytes, then close: looks complete
    stall,           // half the body, then silence until release_stalls() or the end
    mute,            // the headers, then silence until release_stalls() or the end
    trickle,         // the body a few bytes at a time, far below 1 KiB/s
    hold,            // nothing until release_holds() (or the end), then the whole answer
    drip,            // a byte a second, never the last, until let_go(path); then the rest
  };

  struct Request {
    std::string path;    // without the leading "/"
    std::string target;  // path and query as sent
    std::string user_agent;
    std::string range;     // the Range header, "" when none
    std::string if_range;  // the If-Range header, "" when none
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

  // Gives every request for the path (without "/") this fault from now on,
  // or only the next `times` requests (the rest are answered normally).
  void set_fault(const std::string& path, Fault fault, int times = -1);
  // Every answer waits this long before it starts (a line with latency).
  void set_delay(std::chrono::milliseconds delay);

  [[nodiscard]] std::vector<Request> requests() const;
  // Number of different client connections that sent requests.
  [[nodiscard]] int connections() const;
  // Body bytes sent so far, over all answers.
  [[nodiscard]] std::uint64_t body_bytes_sent() const;
  // The most requests that were being answered at the same time.
  [[nodiscard]] int peak_in_flight() const;

  // Waits until this many requests have arrived in all; false at the deadline.
  [[nodiscard]] bool wait_for_requests(std::size_t count, std::chrono::milliseconds deadline);
  // Waits until this many answers stalled (sent their first half) or were
  // held; false at the deadline.
  [[nodiscard]] bool wait_for_stall(std::chrono::milliseconds deadline, int count = 1);
  [[nodiscard]] bool wait_for_holds(int count, std::chrono::milliseconds deadline);
  void release_stalls();
  // Lets held answers go: every one, or those for one path.
  void release_holds();
  void release_hold(const std::string& path);
  // Waits until an answer for the dripping path is under way; false at the
  // deadline.
  [[nodiscard]] bool wait_for_drip(const std::string& path, std::chrono::milliseconds deadline);
  // Answers the dripping path's waiting requests, and every later one, in full.
  void let_go(const std::string& path);

 private:
  struct Impl;
  void start();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvel::testing
