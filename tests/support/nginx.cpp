#include "tests/support/nginx.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>

namespace tarvel::testing {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kStartAttempts = 5;
constexpr auto kStartDeadline = std::chrono::seconds(10);

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port the system just handed out and took back; another process may take
// it before nginx binds it, which start_on() detects and retries.
int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(port);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// The operator's server block with the test's port and root put in, each in
// place of a directive that starts a line.
std::string operator_server(std::string block, const std::string& root, int port) {
  block = std::regex_replace(block, std::regex(R"((\n[ \t]*)listen[ \t][^;\n]*;)"),
                             "$1listen 127.0.0.1:" + std::to_string(port) + ";");
  return std::regex_replace(block, std::regex(R"((\n[ \t]*)root[ \t][^;\n]*;)"),
                            "$1root " + root + ";");
}

std::string config(const std::string& dir, const std::string& root, int port,
                   const std::optional<Nginx::Tls>& tls, const std::string& server_block) {
  std::string text;
  // Workers of a root master would switch to an account that cannot read the test's folders.
  if (::geteuid() == 0) text += "user root;\n";
  text += "worker_processes 1;\ndaemon off;\npid " + dir + "/nginx.pid;\n";
  text += "error_log " + dir + "/error.log;\nevents { worker_connections 256; }\n";
  text += "http {\n  access_log off;\n  default_type application/octet-stream;\n";
  text += "  log_format requests '$connection $uri $server_protocol';\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    text += std::string("  ") + kind + "_temp_path " + dir + "/" + kind + ";\n";
  }
  text += "  sendfile on;\n  tcp_nopush on;\n  keepalive_requests 1000000;\n";
  if (!server_block.empty()) return text + operator_server(server_block, root, port) + "\n}\n";
  text += "  server {\n    listen 127.0.0.1:" + std::to_string(port);
  if (tls) {
    text += " ssl http2;\n    ssl_certificate " + tls->certificate_file + ";\n";
    text += "    ssl_certificate_key " + tls->key_file + ";\n";
    text += "    access_log " + dir + "/access.log requests;\n";
  } else {
    text += ";\n";
  }
  text += "    root " + root + ";\n  }\n}\n";
  return text;
}

}  // namespace

Nginx::Nginx(std::string root) : root_(std::move(root)) { start(); }

Nginx::Nginx(std::string root, Tls tls) : root_(std::move(root)), tls_(std::move(tls)) { start(); }

Nginx::Nginx(std::string root, std::string server_block)
    : root_(std::move(root)), server_block_(std::move(server_block)) {
  start();
}

void Nginx::start() {
  for (int attempt = 0; attempt < kStartAttempts && !running(); ++attempt) {
    const int port = free_port();
    if (port > 0 && start_on(port)) port_ = port;
  }
}

Nginx::~Nginx() { stop(); }

std::string Nginx::url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/" +
         path;
}

bool Nginx::offers_http2_over_tls() {
  // nginx describes how it was built on its error stream.
  FILE* build = ::popen((std::string(kNginx) + " -V 2>&1").c_str(), "r");
  if (build == nullptr) return false;
  std::string text;
  char piece[4096];
  for (std::size_t n = 0; (n = std::fread(piece, 1, sizeof piece, build)) > 0;)
    text.append(piece, n);
  const bool exited = ::pclose(build) == 0;
  return exited && text.find("--with-http_ssl_module") != std::string::npos &&
         text.find("--with-http_v2_module") != std::string::npos;
}

std::string Nginx::error_log() const { return dir_.read("error.log"); }

std::string Nginx::access_log() const { return dir_.read("access.log"); }

bool Nginx::start_on(int port) {
  const std::string conf = dir_ / "nginx.conf";
  std::ofstream(conf) << config(dir_.path(), root_, port, tls_, server_block_);
  const std::string error_file = dir_ / "error.log";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execl(kNginx, kNginx, "-q", "-p", dir_.path().c_str(), "-e", error_file.c_str(), "-c",
            conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  // Wait for the port to answer, or for nginx to give up (port taken, bad setup).
  const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts(port)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // already gone: nothing left to stop
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop();
  return false;
}

void Nginx::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace tarvel::testing
