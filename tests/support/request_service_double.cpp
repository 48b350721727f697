#include "tests/support/request_service_double.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace tarvel::testing {

RequestServiceDouble::RequestServiceDouble() : server_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    std::multimap<std::string, std::string> headers(request.headers.begin(), request.headers.end());
    Answer answer;
    serve(request.path, request.method, request.body, headers, answer);
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    response.body = answer.body;
  };
  server_->Post(".*", handler);
  server_->Get(".*", handler);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    ADD_FAILURE() << "the request service double could not bind";
    return;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  wait_until_running();
}

// stop() only reaches a server whose accept loop has begun, so the double
// is not handed out before that.
void RequestServiceDouble::wait_until_running() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the request service double did not start";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

RequestServiceDouble::~RequestServiceDouble() {
  release();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string RequestServiceDouble::address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RequestServiceDouble::answer(Answer answer) {
  std::lock_guard lock(mutex_);
  default_answer_ = std::move(answer);
}

void RequestServiceDouble::answer(const std::string& path, Answer answer) {
  std::lock_guard lock(mutex_);
  path_answers_[path] = std::move(answer);
}

void RequestServiceDouble::hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void RequestServiceDouble::release() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  released_.notify_all();
}

std::vector<RequestServiceDouble::Received> RequestServiceDouble::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void RequestServiceDouble::serve(const std::string& path, const std::string& method,
                                 const std::string& body,
                                 const std::multimap<std::string, std::string>& headers,
                                 Answer& out) {
  std::unique_lock lock(mutex_);
  received_.push_back(Received{method, path, body, headers});
  released_.wait(lock, [this] { return !held_; });
  const auto found = path_answers_.find(path);
  out = found != path_answers_.end() ? found->second : default_answer_;
}

RefusingAddress::RefusingAddress() {
  socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ADD_FAILURE() << "could not reserve a loopback port";
    return;
  }
  port_ = ntohs(local.sin_port);
}

RefusingAddress::~RefusingAddress() {
  if (socket_ >= 0) ::close(socket_);
}

std::string RefusingAddress::address() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/request";
}

void write_config(const std::string& application_directory,
                  const std::vector<std::pair<std::string, std::string>>& elements,
                  ConfigLayout layout) {
  std::ofstream out(application_directory + "Config.xml", std::ios::binary | std::ios::trunc);
  out << "<Config>\n";
  for (const auto& [name, value] : elements) {
    if (layout == ConfigLayout::values_on_own_lines) {
      out << "  <" << name << ">\n    " << value << "\n  </" << name << ">\n";
    } else {
      out << "  <" << name << ">" << value << "</" << name << ">\n";
    }
  }
  out << "</Config>\n";
  ASSERT_TRUE(out.good()) << "could not write Config.xml";
}

std::string login_answer(const std::string& result, const std::string& rest) {
  std::string answer =
      "<?xml version=\"1.0\"?><response action=\"registration\"><element id=\"id001\">";
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    answer += std::string("<properties name=\"") + name + "\">v</properties>";
  }
  return answer + "<properties name=\"result\">" + result + "</properties>" + rest;
}

}  // namespace tarvel::testing
