#include "tests/support/forwarding_proxy.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace tarvel::testing {
namespace {

constexpr std::size_t kLongestHead = 64 * 1024;
constexpr const char* kHeadEnd = "\r\n\r\n";

std::string base64(const std::string& text) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) value |= static_cast<unsigned char>(text[i + 1]) << 8;
    if (i + 2 < text.size()) value |= static_cast<unsigned char>(text[i + 2]);
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += i + 1 < text.size() ? kDigits[(value >> 6) & 63] : '=';
    out += i + 2 < text.size() ? kDigits[value & 63] : '=';
  }
  return out;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool send_all(int fd, const std::string& text) { return send_all(fd, text.data(), text.size()); }

int connect_to_loopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The port of "host:port" or of "http://host:port/..." (80 when none).
int port_of(const std::string& target) {
  std::string authority = target;
  const auto scheme = authority.find("://");
  if (scheme != std::string::npos) authority = authority.substr(scheme + 3);
  authority = authority.substr(0, authority.find('/'));
  const auto colon = authority.rfind(':');
  return colon == std::string::npos ? 80 : std::atoi(authority.c_str() + colon + 1);
}

// The path of "http://host:port/path", for the origin server.
std::string path_of(const std::string& target) {
  const auto scheme = target.find("://");
  const auto slash = target.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

struct Head {
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> lines;  // as sent
  std::map<std::string, std::string> headers;              // by lower-case name
  std::string rest;                                        // bytes after the head
};

bool read_head(int fd, int wake, Head& head) {
  std::string data;
  char buffer[4096];
  while (data.find(kHeadEnd) == std::string::npos) {
    if (data.size() > kLongestHead) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return false;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  const auto end = data.find(kHeadEnd);
  head.rest = data.substr(end + 4);
  std::istringstream lines(data.substr(0, end));
  std::string line;
  std::getline(lines, line);
  std::istringstream first(line);
  first >> head.method >> head.target >> head.version;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    head.lines.emplace_back(line.substr(0, colon), value);
    head.headers[lower(line.substr(0, colon))] = value;
  }
  return !head.method.empty() && !head.target.empty();
}

// Carries bytes both ways until the server side ends (or the proxy does).
void relay(int client, int server, int wake) {
  bool client_open = true;
  char buffer[64 * 1024];
  for (;;) {
    pollfd fds[3] = {
        {server, POLLIN, 0}, {client_open ? client : -1, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0 || fds[2].revents != 0) return;
    if (fds[0].revents != 0) {
      const ssize_t got = ::recv(server, buffer, sizeof buffer, 0);
      if (got <= 0 || !send_all(client, buffer, static_cast<std::size_t>(got))) return;
    }
    if (client_open && fds[1].revents != 0) {
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) {
        client_open = false;
        ::shutdown(server, SHUT_WR);
      } else if (!send_all(server, buffer, static_cast<std::size_t>(got))) {
        return;
      }
    }
  }
}

// The request for the origin server: its own path, the client's headers but
// the proxy's own, and one request per connection.
std::string forwarded_head(const Head& head) {
  std::string out = head.method + " " + path_of(head.target) + " " + head.version + "\r\n";
  for (const auto& [name, value] : head.lines) {
    const std::string key = lower(name);
    if (key.starts_with("proxy-") || key == "connection" || key == "keep-alive") continue;
    out += name + ": " + value + "\r\n";
  }
  return out + "Connection: close\r\n\r\n";
}

}  // namespace

ForwardingProxy::ForwardingProxy() {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  if (listener_ < 0 || ::pipe(wake_) != 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
    ADD_FAILURE() << "the forwarding proxy could not listen";
    return;
  }
  port_ = ntohs(at.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

ForwardingProxy::~ForwardingProxy() {
  stopping_ = true;
  if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& connection : connections_) connection.join();
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

std::string ForwardingProxy::address(const std::string& credentials) const {
  return "http://" + (credentials.empty() ? "" : credentials + "@") +
         "127.0.0.1:" + std::to_string(port_);
}

void ForwardingProxy::require(const std::string& user, const std::string& password) {
  std::lock_guard lock(mutex_);
  expected_authorisation_ = "Basic " + base64(user + ":" + password);
}

std::vector<ForwardingProxy::Request> ForwardingProxy::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void ForwardingProxy::accept_loop() {
  while (!stopping_) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, client] {
      serve(client);
      ::close(client);
    });
  }
}

bool ForwardingProxy::authorised(const std::map<std::string, std::string>& headers) const {
  if (expected_authorisation_.empty()) return true;
  const auto given = headers.find("proxy-authorization");
  return given != headers.end() && given->second == expected_authorisation_;
}

void ForwardingProxy::serve(int client) {
  Head head;
  if (!read_head(client, wake_[0], head)) return;
  bool allowed = false;
  {
    std::lock_guard lock(mutex_);
    allowed = authorised(head.headers);
    requests_.push_back({head.method, head.target, allowed});
  }
  if (!allowed) {
    send_all(client,
             "HTTP/1.1 407 Proxy Authentication Required\r\n"
             "Proxy-Authenticate: Basic realm=\"tests\"\r\n"
             "Content-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  const int server = connect_to_loopback(port_of(head.target));
  if (server < 0) {
    send_all(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  const bool tunnel = head.method == "CONNECT";
  const bool started = tunnel ? send_all(client, "HTTP/1.1 200 Connection established\r\n\r\n")
                              : send_all(server, forwarded_head(head));
  if (started && send_all(server, head.rest)) relay(client, server, wake_[0]);
  ::close(server);
}

ProxyEnvironment::ProxyEnvironment(const std::map<std::string, std::string>& variables) {
  static const char* const kNames[] = {
      "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
      "ftp_proxy", "FTP_PROXY", "no_proxy", "NO_PROXY",
      // What tells libproxy that a desktop's own settings apply.
      "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID", "KDE_FULL_SESSION"};
  for (const char* name : kNames) {
    const char* value = std::getenv(name);
    saved_[name] = {value != nullptr, value != nullptr ? value : ""};
    ::unsetenv(name);
  }
  for (const auto& [name, value] : variables) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = {old != nullptr, old != nullptr ? old : ""};
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ProxyEnvironment::~ProxyEnvironment() {
  for (const auto& [name, value] : saved_) {
    if (value.first) {
      ::setenv(name.c_str(), value.second.c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

}  // namespace tarvel::testing
