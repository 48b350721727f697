#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace tarvel::testing {

// A real nginx serving one folder on a free 127.0.0.1 port, with its
// configuration, pid file and logs in a temporary folder of its own. Started
// by the constructor, stopped by the destructor. Check running() before use:
// it is false when nginx is missing or would not start.
class Nginx {
 public:
  // Certificate and key (PEM files) for serving HTTPS, with HTTP/2 offered.
  struct Tls {
    std::string certificate_file;
    std::string key_file;
  };

  explicit Nginx(std::string root);
  // Over HTTPS with HTTP/2, logging every request with its connection's
  // number and protocol.
  Nginx(std::string root, Tls tls);
  // Serves with an operator's server block instead of the plain one: its
  // listen and root directives are replaced by the test's port and root.
  Nginx(std::string root, std::string server_block);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  // Whether the installed nginx was built with TLS and HTTP/2, which the
  // constructor with Tls needs.
  [[nodiscard]] static bool offers_http2_over_tls();

  [[nodiscard]] bool running() const { return pid_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:<port>/" + path ("https://" over TLS).
  [[nodiscard]] std::string url(const std::string& path = "") const;
  // What nginx wrote to its error log (for a failure message).
  [[nodiscard]] std::string error_log() const;
  // Over TLS: a line per request, "<connection number> <path> <protocol>".
  [[nodiscard]] std::string access_log() const;

 private:
  void start();
  bool start_on(int port);
  void stop();

  std::string root_;
  std::optional<Tls> tls_;
  std::string server_block_;
  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace tarvel::testing
