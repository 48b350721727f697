#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/app.hpp"
#include "platform/curl/curl_http_get.hpp"
#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_files.hpp"
#include "platform/posix/posix_resolver.hpp"
#include "platform/posix/posix_shell.hpp"
#include "platform/posix/system_clock.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel::testing {

// A resolver that answers from a table; every other name fails. For the
// public host, whose real lookup needs the internet.
class TableResolver final : public Resolver {
 public:
  void add(const std::string& host, Ipv4Address address) { table_[host] = address; }
  [[nodiscard]] std::optional<Ipv4Address> resolve(const std::string& host) override {
    const auto found = table_.find(host);
    if (found == table_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::map<std::string, Ipv4Address> table_;
};

// A launcher rooted in its own temporary application directory, with real
// files, the real clock, the system resolver and recorded message boxes.
// The public host is "localhost", so the connectivity probe passes here.
struct TestApp {
  explicit TestApp(std::string public_host = "localhost")
      : files(dir.path()),
        shell(files),
        app(Services{files, message_box, clock, resolver, echo_sockets, http_get, shell},
            std::move(public_host)) {
    app.settings().set_application_directory(dir.path() + "/");
  }
  // Test servers stop promptly once no client holds a connection open.
  ~TestApp() { CurlHttpGet::close_idle_connections(); }
  TestApp(const TestApp&) = delete;
  TestApp& operator=(const TestApp&) = delete;

  TempDir dir;
  PosixFiles files;
  RecordingMessageBox message_box;
  SystemClock clock;
  PosixResolver resolver;
  PosixEchoSockets echo_sockets;
  CurlHttpGet http_get;
  PosixShell shell;
  App app;
};

}  // namespace tarvel::testing
