#include "tests/support/test_http_server.hpp"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
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

namespace fs = std::filesystem;

constexpr const char* kBinaryType = "application/octet-stream";
// Pages are served as pages, so that a browser shows them; everything else
// is a download.
const char* type_of(const std::string& path) {
  return path.ends_with(".html") ? "text/html; charset=utf-8" : kBinaryType;
}
// Enough threads that every connection a test opens is served at once, with
// room for stalled and held answers.
constexpr std::size_t kServerThreads = 48;
constexpr std::size_t kPiece = 64 * 1024;
// A trickle: this many bytes, then a pause, far below a kilobyte a second.
constexpr std::size_t kTrickleBytes = 16;
constexpr auto kTricklePause = std::chrono::milliseconds(100);

// The bytes of a file an answer carries: all of it, or the range asked for.
struct Part {
  std::uint64_t start = 0;
  std::uint64_t size = 0;
};

// "bytes=<first>-[<last>]" of a file of the given size, or nothing.
std::optional<Part> asked_range(const std::string& header, std::uint64_t total) {
  constexpr std::string_view kUnit = "bytes=";
  const std::string_view text(header);
  if (text.substr(0, kUnit.size()) != kUnit) return std::nullopt;
  const char* at = text.data() + kUnit.size();
  const char* end = text.data() + text.size();
  std::uint64_t first = 0;
  auto parsed = std::from_chars(at, end, first);
  if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != '-') return std::nullopt;
  std::uint64_t last = total == 0 ? 0 : total - 1;
  if (parsed.ptr + 1 != end) {
    parsed = std::from_chars(parsed.ptr + 1, end, last);
    if (parsed.ec != std::errc() || parsed.ptr != end || last < first) return std::nullopt;
  }
  last = std::min(last, total == 0 ? 0 : total - 1);
  return Part{first, first < total ? last - first + 1 : 0};
}

// A strong validator that changes whenever the file is rewritten.
std::string etag_of(const fs::path& path, std::uint64_t size) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error).time_since_epoch().count();
  std::ostringstream tag;
  tag << '"' << std::hex << written << '-' << size << '"';
  return tag.str();
}

// Reads pieces of one file for one answer.
class FileReader {
 public:
  FileReader(const fs::path& path, Part part) : in_(path, std::ios::binary), part_(part) {}
  // Bytes [from, to) of the part, at most one piece of them.
  std::string piece(std::uint64_t from, std::uint64_t to) {
    std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kPiece)), '\0');
    in_.seekg(static_cast<std::streamoff>(part_.start + from));
    in_.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in_.gcount(), 0)));
    return bytes;
  }

 private:
  std::ifstream in_;
  Part part_;
};

}  // namespace

struct TestHttpServer::Impl {
  std::string root;
  std::unique_ptr<httplib::Server> server;
  std::string scheme = "http";
  std::thread thread;
  int port = 0;

  struct Rule {
    Fault fault = Fault::none;
    int times = -1;  // -1: every request
  };

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, Rule> faults;
  std::vector<Request> seen;
  std::chrono::milliseconds delay{0};
  int stalled = 0;
  int held = 0;
  bool released = false;
  bool holds_released = false;
  std::set<std::string> released_paths;
  std::set<std::string> dripping;
  std::set<std::string> let_go_paths;
  int in_flight = 0;
  int peak = 0;
  std::atomic<std::uint64_t> bytes_sent{0};

  Fault record(const httplib::Request& request, const std::string& path) {
    std::lock_guard lock(mutex);
    seen.push_back({path, request.target, request.get_header_value("User-Agent"),
                    request.get_header_value("Range"), request.get_header_value("If-Range"),
                    request.remote_port});
    changed.notify_all();
    peak = std::max(peak, ++in_flight);
    const auto rule = faults.find(path);
    if (rule == faults.end() || rule->second.times == 0) return Fault::none;
    if (rule->second.times > 0) --rule->second.times;
    return rule->second.fault;
  }

  void answer_ended() {
    std::lock_guard lock(mutex);
    --in_flight;
  }

  bool send(httplib::DataSink& sink, const std::string& bytes) {
    if (bytes.empty() || !sink.write(bytes.data(), bytes.size())) return false;
    bytes_sent += bytes.size();
    return true;
  }

  void wait_before_answering(Fault fault, const std::string& path) {
    std::unique_lock lock(mutex);
    if (delay.count() > 0) changed.wait_for(lock, delay, [&] { return released; });
    if (fault != Fault::hold) return;
    ++held;
    changed.notify_all();
    changed.wait(lock, [&] { return released || holds_released || released_paths.contains(path); });
  }

  // The part up to `upto`, then silence until released; the answer never completes.
  bool stall(FileReader& file, std::uint64_t upto, std::size_t offset, httplib::DataSink& sink) {
    if (offset < upto) return send(sink, file.piece(offset, upto));
    {
      std::lock_guard lock(mutex);
      ++stalled;
      changed.notify_all();
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return released; });
    return false;
  }

  bool trickle(FileReader& file, std::uint64_t size, std::size_t offset, httplib::DataSink& sink) {
    {
      std::unique_lock lock(mutex);
      if (changed.wait_for(lock, kTricklePause, [&] { return released; })) return false;
    }
    return send(sink, file.piece(offset, std::min<std::uint64_t>(offset + kTrickleBytes, size)));
  }

  // Whether the path still drips, after waiting up to a second for it to be
  // let go (or for the server to go).
  bool still_dripping(const std::string& path) {
    std::unique_lock lock(mutex);
    dripping.insert(path);
    changed.notify_all();
    const bool held = !changed.wait_for(lock, std::chrono::seconds(1),
                                        [&] { return released || let_go_paths.contains(path); });
    if (!held) dripping.erase(path);
    return held;
  }

  // A dripping answer sends a byte a second, all but its last, so that the
  // client sees a slow download rather than a dead one; once let go the rest
  // follows at once.
  bool drip(FileReader& file, const std::string& path, std::uint64_t size, std::size_t offset,
            httplib::DataSink& sink) {
    if (!still_dripping(path)) return send(sink, file.piece(offset, size));
    return offset + 1 >= size || send(sink, file.piece(offset, offset + 1));
  }

  void answer(const httplib::Request& request, httplib::Response& response) {
    const std::string path = request.path.size() > 1 ? request.path.substr(1) : "";
    const Fault fault = record(request, path);
    wait_before_answering(fault, path);
    // The server's own range handling would cut the answers below a second time.
    const_cast<httplib::Request&>(request).ranges.clear();
    const fs::path file = fs::path(root) / path;
    std::error_code error;
    if (fault == Fault::not_found || !fs::is_regular_file(file, error)) {
      response.status = 404;
      response.set_content("not here", "text/plain");
    } else if (fault == Fault::server_error) {
      response.status = 500;
      response.set_content("broken", "text/plain");
    } else {
      answer_file(request, fault, path, file, response);
      return;
    }
    answer_ended();
  }

  void answer_file(const httplib::Request& request, Fault fault, const std::string& path,
                   const fs::path& file, httplib::Response& response) {
    const std::uint64_t total = fs::file_size(file);
    const std::string etag = etag_of(file, total);
    response.set_header("ETag", etag);
    Part part{0, total};
    const std::string if_range = request.get_header_value("If-Range");
    if (request.has_header("Range") && (if_range.empty() || if_range == etag)) {
      if (const auto range = asked_range(request.get_header_value("Range"), total)) {
        if (range->size == 0) {
          response.status = 416;
          response.set_header("Content-Range", "bytes */" + std::to_string(total));
          answer_ended();
          return;
        }
        part = *range;
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(part.start) + "-" +
                                                 std::to_string(part.start + part.size - 1) + "/" +
                                                 std::to_string(total));
      }
    }
    send_part(fault, path, std::make_shared<FileReader>(file, part), part.size, response);
  }

  void send_part(Fault fault, const std::string& path, const std::shared_ptr<FileReader>& file,
                 std::uint64_t size, httplib::Response& response) {
    const std::uint64_t half = size / 2;
    const auto ended = [this](bool) { answer_ended(); };
    if (fault == Fault::cut_unsized) {
      // Without a length, the end of the connection is the end of the body:
      // dropping it after half the bytes ends a body that looks whole.
      response.set_content_provider(
          kBinaryType,
          [this, file, half](std::size_t offset, httplib::DataSink& sink) {
            return offset < half && send(sink, file->piece(offset, half));
          },
          ended);
      return;
    }
    if (fault == Fault::reset_mid_body) {
      // A body too short to halve is cut off before its first byte: a
      // provider that sends nothing and goes on would hold the connection
      // open until the keep-alive time runs out.
      response.set_chunked_content_provider(
          kBinaryType,
          [this, file, half](std::size_t offset, httplib::DataSink& sink) {
            return offset < half && send(sink, file->piece(offset, half));
          },
          ended);
      return;
    }
    response.set_content_provider(
        size, type_of(path),
        [this, file, fault, path, size, half](std::size_t offset, std::size_t,
                                              httplib::DataSink& sink) {
          switch (fault) {
            case Fault::short_body:
              return offset < half && send(sink, file->piece(offset, half));
            case Fault::stall:
              return stall(*file, half, offset, sink);
            case Fault::mute:
              return stall(*file, 0, offset, sink);
            case Fault::trickle:
              return trickle(*file, size, offset, sink);
            case Fault::drip:
              return drip(*file, path, size, offset, sink);
            default:
              return send(sink, file->piece(offset, size));
          }
        },
        ended);
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
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
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
  impl_->server->stop();
  impl_->thread.join();
}

int TestHttpServer::port() const { return impl_->port; }

std::string TestHttpServer::url(const std::string& path) const {
  return impl_->scheme + "://127.0.0.1:" + std::to_string(impl_->port) + "/" + path;
}

void TestHttpServer::set_fault(const std::string& path, Fault fault, int times) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[path] = {fault, times};
}

void TestHttpServer::set_delay(std::chrono::milliseconds delay) {
  std::lock_guard lock(impl_->mutex);
  impl_->delay = delay;
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

std::uint64_t TestHttpServer::body_bytes_sent() const { return impl_->bytes_sent.load(); }

int TestHttpServer::peak_in_flight() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->peak;
}

bool TestHttpServer::wait_for_requests(std::size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->seen.size() >= count; });
}

bool TestHttpServer::wait_for_stall(std::chrono::milliseconds deadline, int count) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->stalled >= count; });
}

bool TestHttpServer::wait_for_holds(int count, std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->held >= count; });
}

void TestHttpServer::release_stalls() {
  std::lock_guard lock(impl_->mutex);
  impl_->released = true;
  impl_->changed.notify_all();
}

void TestHttpServer::release_holds() {
  std::lock_guard lock(impl_->mutex);
  impl_->holds_released = true;
  impl_->changed.notify_all();
}

void TestHttpServer::release_hold(const std::string& path) {
  std::lock_guard lock(impl_->mutex);
  impl_->released_paths.insert(path);
  impl_->changed.notify_all();
}

bool TestHttpServer::wait_for_drip(const std::string& path, std::chrono::milliseconds deadline) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, deadline, [&] { return impl_->dripping.contains(path); });
}

void TestHttpServer::let_go(const std::string& path) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[path] = {};
  impl_->let_go_paths.insert(path);
  impl_->changed.notify_all();
}

}  // namespace tarvel::testing
