#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/app.hpp"
#include "platform/curl/curl_http_get.hpp"
#include "platform/curl/curl_http_post.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/lock_file_guard.hpp"
#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_files.hpp"
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

// Tells whether the machine is online: every name resolves to 127.0.0.1
// while it is, none while it is not. The answers come from a queue, one a
// lookup, the last one staying; set() starts a new queue. Safe from any
// thread: workers probe too.
class OnlineSwitch final : public Resolver {
 public:
  explicit OnlineSwitch(std::deque<bool> answers = {true}) : answers_(std::move(answers)) {}
  void set(std::deque<bool> answers) {
    std::lock_guard lock(mutex_);
    answers_ = std::move(answers);
  }
  [[nodiscard]] std::optional<Ipv4Address> resolve(const std::string& host) override;
  [[nodiscard]] int lookups() const {
    std::lock_guard lock(mutex_);
    return lookups_;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<bool> answers_;
  int lookups_ = 0;
};

// Answers "localhost" and 127.x.x.x literals and nothing else, without ever
// asking a name server: tests must send nothing beyond the loopback.
class LoopbackResolver final : public Resolver {
 public:
  [[nodiscard]] std::optional<Ipv4Address> resolve(const std::string& host) override;
};

// The installers' tests run at several connection counts: CTest runs them
// again with TARVEL_TEST_CONNECTIONS set, which becomes the launcher's
// max_connections setting.
void use_connections_from_environment(Settings& settings);

// True when the launcher fetches the files of a list one after another. Only
// then do the files after a failure stay untouched and unrequested: fetched
// several at once, the neighbours of a failure may end or be cut short, and
// requests reach the server in any order.
[[nodiscard]] inline bool fetches_one_at_a_time(App& app) {
  return app.settings().max_connections() == 1;
}

// Paths as a server sees a list's requests arrive: the first `leading` ones
// (the manifests, fetched alone) in order, the files after them in list
// order when fetched one at a time, sorted otherwise. Apply it to the paths
// a test expects and to those the server logged alike.
[[nodiscard]] inline std::vector<std::string> in_arrival_order(App& app,
                                                               std::vector<std::string> paths,
                                                               std::size_t leading) {
  if (!fetches_one_at_a_time(app) && paths.size() > leading) {
    std::sort(paths.begin() + static_cast<std::ptrdiff_t>(leading), paths.end());
  }
  return paths;
}

// Retries as the launcher makes them, with pauses short enough for tests.
[[nodiscard]] TransferPolicy quick_retries();

// A launcher rooted in its own temporary application directory, with real
// files, the real clock, HTTP on libcurl, a loopback-only resolver and
// recorded message boxes. The public host is "localhost", so the connectivity
// probe passes; a name under ".invalid" makes it fail. Screens run on the
// headless kernel with scripted movies on a test clock; the instance guard
// keeps its lock file inside the temporary directory.
struct TestApp {
  explicit TestApp(std::string public_host = "localhost")
      : files(dir.path()),
        ui(loop_clock, movies, transcript, &message_box),
        instance_guard(dir.path() + "/.run"),
        shell(files),
        app(services(), std::move(public_host)) {
    app.settings().set_application_directory(dir.path() + "/");
    use_connections_from_environment(app.settings());
  }
  // Screens the kernel keeps alive work in the App: they go while it still
  // exists. Test servers stop promptly once no client holds a connection open.
  ~TestApp() {
    ui.close_kept_screens();
    CurlHttpGet::close_idle_connections();
  }
  TestApp(const TestApp&) = delete;
  TestApp& operator=(const TestApp&) = delete;

  // This launcher's services, for building another App that swaps one of them.
  [[nodiscard]] Services services() {
    return Services{.files = &files,
                    .message_box = &message_box,
                    .clock = &clock,
                    .resolver = &resolver,
                    .echo_sockets = &echo_sockets,
                    .http_get = &http_get,
                    .http_post = &http_post,
                    .ui = &ui,
                    .instance_guard = &instance_guard,
                    .shell = &shell};
  }
  // The same services with some swapped: change(services) assigns the others.
  template <typename Change>
  [[nodiscard]] Services services_with(Change&& change) {
    Services changed = services();
    change(changed);
    return changed;
  }

  TempDir dir;
  PosixFiles files;
  RecordingMessageBox message_box;
  SystemClock clock;
  LoopbackResolver resolver;
  PosixEchoSockets echo_sockets;
  CurlHttpGet http_get{{}, quick_retries()};
  CurlHttpPost http_post;
  TestLoopClock loop_clock;
  RecordingTranscript transcript;
  ScriptedMovieHost movies{files};
  HeadlessUi ui;
  LockFileInstanceGuard instance_guard;
  PosixShell shell;
  App app;
};

}  // namespace tarvel::testing
