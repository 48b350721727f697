#pragma once

#include <string>

#include "core/probe.hpp"
#include "core/settings.hpp"
#include "core/support_log.hpp"
#include "core/status.hpp"
#include "core/workers.hpp"
#include "platform/clock.hpp"
#include "platform/echo.hpp"
#include "platform/files.hpp"
#include "platform/http_get.hpp"
#include "platform/http_post.hpp"
#include "platform/instance_guard.hpp"
#include "platform/log_file.hpp"
#include "platform/message_box.hpp"
#include "platform/resolver.hpp"
#include "platform/shell.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// The platform services one launcher works with, owned by whoever builds the
// App: main() builds the real ones; tests build theirs around a temporary
// application directory and swap single services by assigning one pointer.
// Every service must be set before the App is made.
struct Services {
  Files* files = nullptr;
  MessageBox* message_box = nullptr;
  Clock* clock = nullptr;
  Resolver* resolver = nullptr;
  EchoSockets* echo_sockets = nullptr;
  HttpGet* http_get = nullptr;
  HttpPost* http_post = nullptr;
  Ui* ui = nullptr;
  InstanceGuard* instance_guard = nullptr;
  Shell* shell = nullptr;
  // Where the support log goes; none keeps no log (standard error still
  // gets every failure's line).
  LogFile* log_file = nullptr;

  [[nodiscard]] bool complete() const { return missing() == nullptr; }
  // The name of the first service not set, or null when every one is.
  [[nodiscard]] const char* missing() const {
    if (!files) return "files";
    if (!message_box) return "message_box";
    if (!clock) return "clock";
    if (!resolver) return "resolver";
    if (!echo_sockets) return "echo_sockets";
    if (!http_get) return "http_get";
    if (!http_post) return "http_post";
    if (!ui) return "ui";
    if (!instance_guard) return "instance_guard";
    if (!shell) return "shell";
    return nullptr;
  }
};

// One launcher: its settings record and the services it reaches the system
// through. Passed by reference to every part of the program; nothing global.
class App {
 public:
  explicit App(Services services, std::string public_host = default_public_host())
      : services_(services), public_host_(std::move(public_host)), log_("tarvel", services.log_file) {
    require_every_service(services_);
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  [[nodiscard]] Settings& settings() { return settings_; }
  [[nodiscard]] const Settings& settings() const { return settings_; }
  [[nodiscard]] Files& files() { return *services_.files; }
  [[nodiscard]] MessageBox& message_box() { return *services_.message_box; }
  [[nodiscard]] Clock& clock() { return *services_.clock; }
  [[nodiscard]] Resolver& resolver() { return *services_.resolver; }
  [[nodiscard]] EchoSockets& echo_sockets() { return *services_.echo_sockets; }
  [[nodiscard]] HttpGet& http_get() { return *services_.http_get; }
  [[nodiscard]] Ui& ui() { return *services_.ui; }
  [[nodiscard]] InstanceGuard& instance_guard() { return *services_.instance_guard; }
  [[nodiscard]] HttpPost& http_post() { return *services_.http_post; }
  [[nodiscard]] Shell& shell() { return *services_.shell; }
  // The support log, and the line on standard error a failure gets.
  [[nodiscard]] SupportLog& log() { return log_; }

  // The host whose name lookup tells the launcher it is online.
  [[nodiscard]] const std::string& public_host() const { return public_host_; }
  [[nodiscard]] EchoCounters& echo_counters() { return echo_counters_; }
  // The worker threads of this launcher, joined before anything else of the
  // App goes.
  [[nodiscard]] Workers& workers() { return workers_; }

  // The host name fixed when the program was built.
  static std::string default_public_host();

 private:
  // A program built without one of its services is wrong from the start:
  // it stops at once, naming the service, in every build, rather than
  // failing later on a null service.
  static void require_every_service(const Services& services);

  Services services_;
  std::string public_host_;
  Settings settings_;
  EchoCounters echo_counters_;
  SupportLog log_;
  // Last, so it is destroyed first: workers use everything above. Work that
  // ends by an exception shows the player a failed download, which a movie
  // offers to retry.
  Workers workers_{[this] {
    settings_.set_status(kStatusDownloadFailed, error_text(kStatusDownloadFailed));
  }};
};

}  // namespace tarvel
