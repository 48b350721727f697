#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "operator/request_service.hpp"

namespace httplib {
class Server;
}

namespace tarvel {

struct StageOptions {
  std::string root;              // the folder served: GET /a/b answers root/a/b
  int port = 0;                  // 0: a free port
  std::uint64_t slow_ms = 0;     // every answer waits this long before it starts
  std::uint64_t drop_every = 0;  // every n-th file answered is cut off halfway (0: none)
};

// A download server and request service on 127.0.0.1: serves the files of
// one folder to GET and HEAD (ranges included; a folder answers with its
// index.html), answers POSTed documents at any path with the request
// service, and logs every request on one line.
class StageServer {
 public:
  using Log = std::function<void(const std::string& line)>;

  StageServer(StageOptions options, Log log);
  ~StageServer();
  StageServer(const StageServer&) = delete;
  StageServer& operator=(const StageServer&) = delete;

  // Takes the port. False, with error(), when it cannot.
  [[nodiscard]] bool bind();
  [[nodiscard]] const std::string& error() const { return error_; }
  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:<port>/" + path.
  [[nodiscard]] std::string url(const std::string& path = "") const;

  // Serves until stop(), on the calling thread, or on a thread of its own,
  // with the request service answering POSTs.
  void listen(RequestService& service);
  void start(RequestService& service);
  // Ends the serving; safe from any thread, and more than once.
  void stop();

 private:
  struct Handlers;

  StageOptions options_;
  Log log_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<Handlers> handlers_;
  std::thread thread_;
  std::string error_;
  int port_ = 0;
  int listening_socket_ = -1;
};

}  // namespace tarvel
