// Start-up relocation against a real HTTP server on the loopback interface.
#include <gtest/gtest.h>

#include "core/startup.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/download.hpp"

namespace tarvel {
namespace {

// No echo socket opens here, so the current server always counts as silent.
class NoEchoSockets final : public EchoSockets {
 public:
  std::unique_ptr<EchoSocket> open() override { return nullptr; }
};

// A launcher beside a download server whose files live in their own folder.
struct RelocatingLauncher {
  RelocatingLauncher()
      : app(t.services_with([this](Services& s) {
              s.resolver = &resolver;
              s.echo_sockets = &sockets;
            }),
            "localhost") {
    resolver.add("localhost", {127, 0, 0, 1});
  }
  void run() {
    const StartupParts parts{[](App&, int code) { ADD_FAILURE() << "error screen " << code; },
                             [](App&) {}, download_file};
    EXPECT_FALSE(run_startup(app, parts));
    // The server goes before the test app: leave it no idle connection to wait on.
    CurlHttpGet::close_idle_connections();
  }
  [[nodiscard]] std::vector<std::string> asked() const {
    std::vector<std::string> paths;
    for (const auto& request : server.requests()) paths.push_back(request.path);
    return paths;
  }

  testing::TestApp t;
  testing::TempDir served;
  testing::TestHttpServer server{served.path()};
  testing::TableResolver resolver;
  NoEchoSockets sockets;
  App app;
};

TEST(Relocation, FollowsUrlXmlToTheNewServersSettings) {
  RelocatingLauncher l;
  l.served.write("where.xml", "url=" + l.server.url("moved/") + "\n");
  l.served.write("moved/client/setup.xml",
                 "url=" + l.server.url("moved/client/") + "\nexe_name=t\n");
  l.t.dir.write("setup.xml",
                "url=" + l.server.url("client//") + "\naurl=" + l.server.url("where.xml") + "\n");
  l.run();
  EXPECT_EQ(l.asked(), (std::vector<std::string>{"where.xml", "moved/client/setup.xml"}));
  EXPECT_EQ(l.app.settings().url(), l.server.url("moved/client/"));
  EXPECT_EQ(l.app.settings().exe_name(), "t");
  EXPECT_EQ(l.t.dir.read("url.xml"), "url=" + l.server.url("moved/") + "\n");
}

TEST(Relocation, MissingNewSettingsKeepTheOldOnes) {
  RelocatingLauncher l;
  l.served.write("where.xml", "url=" + l.server.url("moved/") + "\n");
  const std::string old_settings =
      "url=" + l.server.url("client/") + "\naurl=" + l.server.url("where.xml") + "\n";
  l.t.dir.write("setup.xml", old_settings);
  l.run();
  EXPECT_EQ(l.asked(), (std::vector<std::string>{"where.xml", "moved/client/setup.xml"}));
  EXPECT_EQ(l.app.settings().url(), l.server.url("client/"));
  EXPECT_EQ(l.t.dir.read("setup.xml"), old_settings);
}

}  // namespace
}  // namespace tarvel
