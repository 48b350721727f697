#include "operator/stage_server.hpp"

#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <locale>
#include <optional>

namespace tarvel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBinaryType = "application/octet-stream";
constexpr const char* kIndexPage = "index.html";
constexpr std::size_t kPieceSize = 64 * 1024;
// Each connection holds one of the server's threads until it ends: an idle
// one for at most this long, one whose request stops coming (from one byte
// to the next) for at most the read time-out, then the idle time. Loopback
// clients send a request at once and reconnect at little cost.
constexpr int kKeepAliveSeconds = 1;
constexpr auto kRequestReadTimeout = std::chrono::seconds(1);
// Enough threads that a pile of half-sent requests (a page can open many
// connections to a loopback port) clears in seconds.
constexpr std::size_t kServerThreads = 128;

const char* content_type(const fs::path& path) {
  const std::string extension = path.extension().string();
  if (extension == ".xml") return "text/xml";
  if (extension == ".html") return "text/html";
  if (extension == ".txt") return "text/plain";
  return kBinaryType;
}

// The file a request path names inside the root: no ".." anywhere, and a
// folder stands for its index page. Nothing when there is no such file.
std::optional<fs::path> file_for(const std::string& root, const std::string& request_path) {
  if (request_path.empty() || request_path.front() != '/') return std::nullopt;
  if (request_path.find('\0') != std::string::npos) return std::nullopt;
  const fs::path relative = fs::path(request_path.substr(1)).lexically_normal();
  // "//etc/hostname" (or "/%2Fetc/hostname", decoded) is an absolute path,
  // which would replace the root instead of going below it.
  if (relative.has_root_path()) return std::nullopt;
  for (const fs::path& part : relative) {
    if (part == "..") return std::nullopt;
  }
  fs::path file = fs::path(root) / relative;
  std::error_code error;
  if (fs::is_directory(file, error)) file /= kIndexPage;
  if (!fs::is_regular_file(file, error)) return std::nullopt;
  return file;
}

// What the log says of the request being answered on this thread.
thread_local std::string t_note;

std::string elapsed_text(std::chrono::steady_clock::time_point since) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - since)
                      .count();
  char text[32];
  std::snprintf(text, sizeof text, "[%6lld.%03lld]", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}

}  // namespace

struct StageServer::Handlers {
  Handlers(StageOptions stage_options, Log stage_log)
      : options(std::move(stage_options)), log(std::move(stage_log)) {}

  StageOptions options;
  Log log;
  RequestService* service = nullptr;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::mutex log_mutex;
  std::atomic<std::uint64_t> files_answered{0};
  std::atomic<bool> stopping{false};
  std::atomic<bool> listening{false};
  std::atomic<bool> finished{false};

  void wait_if_slow() const {
    if (options.slow_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(options.slow_ms));
  }

  void serve_file(const httplib::Request& request, httplib::Response& response) {
    wait_if_slow();
    const auto file = file_for(options.root, request.path);
    std::error_code error;
    const auto size = file ? fs::file_size(*file, error) : 0;
    if (!file || error) {
      response.status = 404;
      response.set_content("not here\n", "text/plain");
      return;
    }
    const std::uint64_t number = ++files_answered;
    const bool drop = options.drop_every > 0 && number % options.drop_every == 0;
    if (size == 0) {
      response.set_content("", content_type(*file));
      return;
    }
    auto in = std::make_shared<std::ifstream>(*file, std::ios::binary);
    const std::uint64_t limit = drop ? size / 2 : size;
    if (drop) t_note = "cut off halfway (--drop-every " + std::to_string(options.drop_every) + ")";
    response.set_content_provider(
        size, content_type(*file),
        [in, limit](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          if (offset >= limit) return false;
          std::string piece(std::min<std::size_t>({length, kPieceSize, limit - offset}), '\0');
          in->seekg(static_cast<std::streamoff>(offset));
          in->read(piece.data(), static_cast<std::streamsize>(piece.size()));
          if (in->gcount() <= 0) return false;
          return sink.write(piece.data(), static_cast<std::size_t>(in->gcount()));
        });
  }

  void serve_post(const httplib::Request& request, httplib::Response& response) {
    wait_if_slow();
    const ServiceReply reply = service->answer(request.body);
    response.status = reply.status;
    response.set_content(reply.body, "text/xml");
    t_note = reply.note;
  }

  void write_log(const httplib::Request& request, const httplib::Response& response) {
    std::string line = elapsed_text(started) + " " + request.method + " " + request.target + " " +
                       std::to_string(response.status);
    const std::string length = response.get_header_value("Content-Length");
    line += " " + (length.empty() ? std::to_string(response.body.size()) : length) + " B";
    if (!t_note.empty()) line += " " + t_note;
    t_note.clear();
    std::lock_guard lock(log_mutex);
    log(line);
  }
};

StageServer::StageServer(StageOptions options, Log log)
    : options_(std::move(options)),
      log_(std::move(log)),
      server_(std::make_unique<httplib::Server>()),
      handlers_(std::make_unique<Handlers>(options_, log_)) {
  Handlers& h = *handlers_;
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  server_->set_read_timeout(kRequestReadTimeout);
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  // The library's default lets a second server bind a port in use (and the
  // two share its requests); a stage must find a taken port taken.
  server_->set_socket_options([this](socket_t socket) {
    int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening_socket_ = socket;
  });
  server_->Get(".*", [&h](const httplib::Request& request, httplib::Response& response) {
    h.serve_file(request, response);
  });
  server_->Post(".*", [&h](const httplib::Request& request, httplib::Response& response) {
    h.serve_post(request, response);
  });
  server_->set_logger([&h](const httplib::Request& request, const httplib::Response& response) {
    h.write_log(request, response);
  });
}

StageServer::~StageServer() { stop(); }

bool StageServer::bind() {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else if (server_->bind_to_port("127.0.0.1", options_.port)) {
    port_ = options_.port;
  }
  // The library listens with a backlog of 5: a burst of connections (a page
  // opening many at once) would have the system drop the rest, each then
  // waiting a second to try again. Listening again only makes it longer.
  if (port_ > 0 && listening_socket_ >= 0) ::listen(listening_socket_, SOMAXCONN);
  if (port_ <= 0) {
    port_ = 0;
    error_ = options_.port == 0
                 ? "no free port on 127.0.0.1"
                 : "port " + std::to_string(options_.port) + " on 127.0.0.1 is taken";
    return false;
  }
  return true;
}

std::string StageServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

void StageServer::listen(RequestService& service) {
  handlers_->service = &service;
  handlers_->listening = true;
  if (!handlers_->stopping) (void)server_->listen_after_bind();
  handlers_->finished = true;
}

void StageServer::start(RequestService& service) {
  // The server and its callers build regular expressions, which fill the
  // locale's character cache lazily, one entry at a time. Filling it here,
  // before the server's threads start, keeps two threads from writing it at
  // once.
  const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
  for (int c = 0; c < 256; ++c) (void)ctype.narrow(static_cast<char>(c), '\0');
  thread_ = std::thread([this, &service] { listen(service); });
}

void StageServer::stop() {
  handlers_->stopping = true;
  // The server only hears stop() once its loop runs; a loop not begun yet
  // sees stopping and never begins.
  while (handlers_->listening && !handlers_->finished && !server_->is_running()) {
    std::this_thread::yield();
  }
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tarvel
