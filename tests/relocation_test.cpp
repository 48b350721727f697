// Start-up relocation against a real HTTP server on the loopback interface.
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "core/startup.hpp"
#include "tests/support/test_app.hpp"
#include "update/download.hpp"

namespace tarvel {
namespace {

// A download server on 127.0.0.1 at a free port, serving fixed files (with
// "$BASE" standing for its own address) and writing down the paths asked for.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::map<std::string, std::string> files) : files_(std::move(files)) {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard lock(mutex_);
        asked_.push_back(request.path);
      }
      const auto found = files_.find(request.path);
      if (found == files_.end()) {
        response.status = 404;
        return;
      }
      std::string body = found->second;
      for (auto at = body.find("$BASE"); at != std::string::npos; at = body.find("$BASE")) {
        body.replace(at, 5, base());
      }
      response.set_content(body, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // Bound already: connections wait in the backlog until the loop accepts.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LoopbackServer() {
    CurlHttpGet::close_idle_connections();
    server_.stop();
    thread_.join();
  }
  [[nodiscard]] std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  [[nodiscard]] std::vector<std::string> asked() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  std::map<std::string, std::string> files_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> asked_;
};

// No echo socket opens here, so the current server always counts as silent.
class NoEchoSockets final : public EchoSockets {
 public:
  std::unique_ptr<EchoSocket> open() override { return nullptr; }
};

struct RelocatingLauncher {
  RelocatingLauncher()
      : app(Services{t.files, t.message_box, t.clock, resolver, sockets, t.http_get, t.ui,
                     t.instance_guard},
            "localhost") {
    resolver.add("localhost", {127, 0, 0, 1});
  }
  void run() {
    const StartupParts parts{[](App&, int code) { ADD_FAILURE() << "error screen " << code; },
                             [](App&) {}, download_file};
    EXPECT_FALSE(run_startup(app, parts));
  }
  testing::TestApp t;
  testing::TableResolver resolver;
  NoEchoSockets sockets;
  App app;
};

TEST(Relocation, FollowsUrlXmlToTheNewServersSettings) {
  LoopbackServer server({{"/where.xml", "url=$BASE/moved/\n"},
                         {"/moved/client/setup.xml", "url=$BASE/moved/client/\nexe_name=t\n"}});
  RelocatingLauncher launcher;
  launcher.t.dir.write(
      "setup.xml", "url=" + server.base() + "/client//\naurl=" + server.base() + "/where.xml\n");
  launcher.run();
  EXPECT_EQ(server.asked(), (std::vector<std::string>{"/where.xml", "/moved/client/setup.xml"}));
  EXPECT_EQ(launcher.app.settings().url(), server.base() + "/moved/client/");
  EXPECT_EQ(launcher.app.settings().exe_name(), "t");
  EXPECT_EQ(launcher.t.dir.read("url.xml"), "url=" + server.base() + "/moved/\n");
}

TEST(Relocation, MissingNewSettingsKeepTheOldOnes) {
  LoopbackServer server(std::map<std::string, std::string>{{"/where.xml", "url=$BASE/moved/\n"}});
  RelocatingLauncher launcher;
  const std::string old_settings =
      "url=" + server.base() + "/client/\naurl=" + server.base() + "/where.xml\n";
  launcher.t.dir.write("setup.xml", old_settings);
  launcher.run();
  EXPECT_EQ(server.asked(), (std::vector<std::string>{"/where.xml", "/moved/client/setup.xml"}));
  EXPECT_EQ(launcher.app.settings().url(), server.base() + "/client/");
  EXPECT_EQ(launcher.t.dir.read("setup.xml"), old_settings);
}

}  // namespace
}  // namespace tarvel
