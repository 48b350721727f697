#include "tests/support/test_http_server.hpp"

#include <httplib.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarvel::testing {
namespace {

constexpr const char* kBinaryType = "application/octet-stream";

// Pages are served as pages, so that a browser shows them; everything else
// is a download.
const char* type_of(const std::string& path) {
  return path.ends_with(".html") ? "text/html; charset=utf-8" : kBinaryType;
}

std::optional<std::string> file_contents(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

}  // namespace

struct TestHttpServer::Impl {
  std::string root;
  std::unique_ptr<httplib::Server> server;
  std::string scheme = "http";
  std::thread thread;
  int port = 0;

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, Fault> faults;
  std::vector<Request> seen;
  int stalled = 0;
  bool released = false;
  std::set<std::string> holding;
  bool closing = false;

  Fault record(const httplib::Request& request) {
    std::lock_guard lock(mutex);
    const std::string path = request.path.empty() ? "" : request.path.substr(1);
    seen.push_back(
        {path, request.target, request.get_header_value("User-Agent"), request.remote_port});
    changed.notify_all();
    const auto fault = faults.find(path);
    return fault == faults.end() ? Fault::none : fault->second;
  }

  // Sends the first half, then blocks until released; the answer never completes.
  bool stall(const std::string& body, std::size_t offset, httplib::DataSink& sink) {
    if (offset == 0) {
      sink.write(body.data(), body.size() / 2);
      std::lock_guard lock(mutex);
      ++stalled;
      changed.notify_all();
      return true;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return released; });
    return false;
  }

  // Whether the path is still held, after waiting up to a second for it to
  // be let go (or for the server to go).
  bool still_held(const std::string& path) {
    std::unique_lock lock(mutex);
    holding.insert(path);
    changed.notify_all();
    const bool held = !changed.wait_for(lock, std::chrono::seconds(1),
                                        [&] { return closing || faults[path] != Fault::hold; });
    if (!held) holding.erase(path);
    return held;
  }

  // A held answer trickles out a byte a second, all but its last, so that
  // the client sees a slow download rather than a dead one; once let go the
  // rest follows at once.
  void answer_held(const std::string& path, const std::string& body, httplib::Response& response) {
    response.set_content_provider(
        body.size(), type_of(path),
        [this, path, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (still_held(path)) {
            if (offset + 1 < body.size()) sink.write(body.data() + offset, 1);
            return true;
          }
          sink.write(body.data() + offset, body.size() - offset);
          return true;
        });
  }

  void answer(const httplib::Request& request, httplib::Response& response) {
    const Fault fault = record(request);
    const std::string path = request.path.size() > 1 ? request.path.substr(1) : "";
    const auto body = file_contents(std::filesystem::path(root) / path);
    if (fault == Fault::not_found || !body) {
      response.status = 404;
      response.set_content("not here", "text/plain");
    } else if (fault == Fault::server_error) {
      response.status = 500;
      response.set_content("broken", "text/plain");
    } else if (fault == Fault::none || (fault == Fault::hold && body->empty())) {
      response.set_content(*body, type_of(path));
    } else if (fault == Fault::hold) {
      answer_held(path, *body, response);
    } else {
      answer_faulty(fault, *body, response);
    }
  }

  void answer_faulty(Fault fault, const std::string& body, httplib::Response& response) {
    const auto half = body.size() / 2;
    if (fault == Fault::reset_mid_body) {
      response.set_chunked_content_provider(
          kBinaryType, [body, half](std::size_t offset, httplib::DataSink& sink) {
            // A body too short to halve is cut off before its first byte: a
            // provider that sends nothing and goes on would hold the
            // connection open until the keep-alive time runs out.
            const bool sending = offset == 0 && half > 0;
            if (sending) sink.write(body.data(), half);
            return sending;
          });
    } else if (fault == Fault::short_body) {
      response.set_content_provider(
          body.size(), kBinaryType,
          [body, half](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) sink.write(body.data(), half);
            return offset == 0;
          });
    } else {
      response.set_content_provider(
          body.size(), kBinaryType,
          [this, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            return stall(body, offset, sink);
          });
    }
  }
};

TestHttpServer::TestHttpServer(std::string root) : impl_(std::make_unique<Impl>()) {
  impl_->root = std::move(root);
  impl_->server = std::make_unique<httplib::Server>();
  start();
}

TestHttpServer::TestHttpServer(std::string root, const Tls& tls) : impl_(std::make_unique<Impl>()) {
  impl_->root = std::move(root);
  impl_->server =
      std::make_unique<httplib::SSLServer>(tls.certificate_file.c_str(), tls.key_file.c_str());
  impl_->scheme = "https";
  start();
}

void TestHttpServer::start() {
  httplib::Server& server = *impl_->server;
  // Long enough that a loaded machine cannot make an idle connection close
  // between two requests of a test that counts connections. A client that
  // keeps its connection open holds up stop() at most this long; TestApp and
  // the fixtures close theirs first, so no test waits on it.
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(100000);
  server.set_tcp_nodelay(true);
  server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    impl_->answer(request, response);
  });
  impl_->port = server.bind_to_any_port("127.0.0.1");
  if (impl_->port <= 0) throw std::runtime_error("test HTTP server: no port");
  // The socket listens from here on, so clients may connect before the loop runs.
  impl_->thread = std::thread([this] { impl_->server->listen_after_bind(); });
  // stop() only takes effect on a running loop, so the destructor must not
  // come before the loop has started.
  while (!server.is_running()) std::this_thread::yield();
}

TestHttpServer::~TestHttpServer() {
  release_stalls();
  {
    std::lock_guard lock(impl_->mutex);
    impl_->closing = true;
    impl_->changed.notify_all();
  }
  impl_->server->stop();
  impl_->thread.join();
}

int TestHttpServer::port() const { return impl_->port; }

std::string TestHttpServer::url(const std::string& path) const {
  return impl_->scheme + "://127.0.0.1:" + std::to_string(impl_->port) + "/" + path;
}

void TestHttpServer::set_fault(const std::string& path, Fault fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[path] = fault;
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->seen;
}

int TestHttpServer::connections() const {
  std::lock_guard lock(impl_->mutex);
  std::set<int> ports;
  for (const Request& request : impl_->seen) ports.insert(request.client_port);
  return static_cast<int>(ports.size());
}

bool TestHttpServer::wait_for_requests(std::size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->seen.size() >= count; });
}

bool TestHttpServer::wait_for_stall(std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->stalled > 0; });
}

void TestHttpServer::release_stalls() {
  std::lock_guard lock(impl_->mutex);
  impl_->released = true;
  impl_->changed.notify_all();
}

bool TestHttpServer::wait_for_hold(const std::string& path, std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->holding.contains(path); });
}

void TestHttpServer::let_go(const std::string& path) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[path] = Fault::none;
  impl_->changed.notify_all();
}

}  // namespace tarvel::testing
