#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvel::testing {

// A forwarding HTTP proxy on 127.0.0.1 and a free port. Whatever host a
// request names, it carries the request to 127.0.0.1 at the port the request
// names: addresses with names that resolve nowhere reach a test's servers,
// and only through the proxy. It forwards plain requests (one per
// connection) and opens CONNECT tunnels, and records each request. It may
// demand Basic credentials and answer 407 without them.
class ForwardingProxy {
 public:
  struct Request {
    std::string method;
    std::string target;  // as sent: "http://host:port/path" or "host:port"
    bool authorised = false;
  };

  ForwardingProxy();
  ~ForwardingProxy();
  ForwardingProxy(const ForwardingProxy&) = delete;
  ForwardingProxy& operator=(const ForwardingProxy&) = delete;

  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:<port>", or with "user:password@" before the host.
  [[nodiscard]] std::string address(const std::string& credentials = "") const;

  // From now on, requests without these credentials get 407.
  void require(const std::string& user, const std::string& password);

  [[nodiscard]] std::vector<Request> requests() const;

 private:
  void accept_loop();
  void serve(int client);
  [[nodiscard]] bool authorised(const std::map<std::string, std::string>& headers) const;

  int listener_ = -1;
  int wake_[2] = {-1, -1};  // written once to end every wait of the proxy
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<Request> requests_;
  std::string expected_authorisation_;
};

// Sets the proxy variables of the environment for a scope, and clears the
// ones not given, so that the machine's own settings cannot steer a test;
// the previous values come back at its end. Also hides the desktop session
// from libproxy, so that only the environment speaks.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const std::map<std::string, std::string>& variables);
  ~ProxyEnvironment();
  ProxyEnvironment(const ProxyEnvironment&) = delete;
  ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

 private:
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

}  // namespace tarvel::testing
