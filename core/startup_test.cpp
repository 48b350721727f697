#include "core/startup.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings_readers.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

// Echo sockets that either cannot be opened (the probe fails) or carry
// requests nowhere and close cleanly (the probe passes).
class StubEchoSockets final : public EchoSockets {
 public:
  bool available = false;
  int opened = 0;
  std::unique_ptr<EchoSocket> open() override {
    ++opened;
    if (!available) return nullptr;
    return std::make_unique<Socket>();
  }

 private:
  struct Socket final : EchoSocket {
    bool send_to(const Ipv4Address&, std::span<const std::uint8_t>) override { return true; }
    bool wait_readable(int) override { return false; }
    long receive(std::span<std::uint8_t>) override { return 0; }
    bool close() override { return true; }
  };
};

// A launcher whose names resolve from a table (nothing leaves the machine),
// with stand-ins for the screens and a downloader serving from a map.
struct Startup {
  explicit Startup(std::string public_host = "localhost")
      : app(t.services_with([this](Services& s) {
              s.resolver = &resolver;
              s.echo_sockets = &sockets;
            }),
            std::move(public_host)) {
    resolver.add("localhost", {127, 0, 0, 1});
    resolver.add("old.test", {127, 0, 0, 2});
  }

  StartupParts parts() {
    return {[this](App&, int code) { events.push_back("error " + std::to_string(code)); },
            [this](App&) { events.push_back("first screen"); },
            [this](App& a, const std::string& address, const std::string& path) {
              events.push_back("download " + address + " to " + path);
              const auto found = server.find(address);
              return found != server.end() && a.files().write(path, found->second);
            }};
  }
  bool run() { return run_startup(app, parts()); }
  [[nodiscard]] std::string in_dir(const std::string& name) const {
    return t.dir.path() + "/" + name;
  }

  testing::TestApp t;
  testing::TableResolver resolver;
  StubEchoSockets sockets;
  App app;
  std::vector<std::string> events;
  std::map<std::string, std::string> server;
};

TEST(StartupGuard, SecondInstanceShows406AndEndsWithoutDisturbingTheFirst) {
  Startup s;
  auto first = std::make_unique<LockFileInstanceGuard>(s.t.dir / ".run");
  ASSERT_EQ(first->claim(kInstanceName), InstanceGuard::Claim::claimed);
  EXPECT_FALSE(s.run());
  EXPECT_EQ(s.events, (std::vector<std::string>{"error 406"}));
  LockFileInstanceGuard third(s.t.dir / ".run");
  EXPECT_EQ(third.claim(kInstanceName), InstanceGuard::Claim::already_running);

  first.reset();
  s.events.clear();
  EXPECT_FALSE(s.run());
  EXPECT_EQ(s.events, (std::vector<std::string>{"first screen"}));
}

TEST(StartupProbe, NoNetworkShows402AndGoesOnToTheFirstScreen) {
  Startup s("offline.invalid");
  EXPECT_FALSE(s.run());
  EXPECT_EQ(s.events, (std::vector<std::string>{"error 402", "first screen"}));
  EXPECT_EQ(s.app.settings().status(), (Status{402, "Err=402"}));
  EXPECT_EQ(s.app.settings().application_directory(), s.t.dir.path() + "/");
  EXPECT_EQ(s.t.ui.main_window(), kNoWindow);
}

TEST(StartupRelocation, EmptyAurlProbesNothingAndReadsNoUrlFile) {
  Startup s;
  s.t.dir.write("setup.xml", "url=http://old.test/client/\n");
  s.t.dir.write("url.xml", "url=http://new.test/\n");
  EXPECT_FALSE(s.run());
  EXPECT_EQ(s.events, (std::vector<std::string>{"first screen"}));
  EXPECT_EQ(s.sockets.opened, 0);
  EXPECT_EQ(s.app.settings().url(), "http://old.test/client/");
}

TEST(StartupRelocation, AnsweringServerIsKept) {
  Startup s;
  s.sockets.available = true;
  s.t.dir.write("setup.xml", "url=http://old.test/client/\naurl=http://cfg.test/url.xml\n");
  EXPECT_FALSE(s.run());
  EXPECT_EQ(s.sockets.opened, 1);
  EXPECT_EQ(s.events, (std::vector<std::string>{"first screen"}));
}

struct RelocationCase {
  const char* name;
  const char* url;
  const char* url_file;   // served for aurl; null: that download fails
  const char* new_setup;  // the address the new setup.xml is served at; null: fails
  std::vector<const char*> fetched;
  const char* url_after;
};

TEST(StartupRelocation, FollowsUrlFileToTheServersFolder) {
  const std::vector<RelocationCase> cases = {
      {"folder and slash",
       "http://old.test/client/",
       "url=http://new.test/base/\n",
       "http://new.test/base/client/setup.xml",
       {"http://cfg.test/u.xml", "http://new.test/base/client/setup.xml"},
       "http://moved.test/"},
      {"several slashes",
       "http://old.test/client///",
       "url=http://new.test/base/\n",
       "http://new.test/base/client/setup.xml",
       {"http://cfg.test/u.xml", "http://new.test/base/client/setup.xml"},
       "http://moved.test/"},
      {"no url line",
       "http://old.test/client/",
       "other=1\n",
       nullptr,
       {"http://cfg.test/u.xml"},
       "http://old.test/client/"},
      {"url file fails",
       "http://old.test/client/",
       nullptr,
       nullptr,
       {"http://cfg.test/u.xml"},
       "http://old.test/client/"},
      {"new settings fail",
       "http://old.test/client/",
       "url=http://new.test/base/\n",
       nullptr,
       {"http://cfg.test/u.xml", "http://new.test/base/client/setup.xml"},
       "http://old.test/client/"},
  };
  for (const RelocationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Startup s;
    s.t.dir.write("setup.xml", std::string("url=") + c.url + "\naurl=http://cfg.test/u.xml\n");
    if (c.url_file) s.server["http://cfg.test/u.xml"] = c.url_file;
    if (c.new_setup) s.server[c.new_setup] = "url=http://moved.test/\n";
    EXPECT_FALSE(s.run());
    std::vector<std::string> expected;
    expected.push_back(std::string("download ") + c.fetched[0] + " to " + s.in_dir("url.xml"));
    if (c.fetched.size() > 1) {
      expected.push_back(std::string("download ") + c.fetched[1] + " to " + s.in_dir("setup.xml"));
    }
    expected.push_back("first screen");
    EXPECT_EQ(s.events, expected);
    EXPECT_EQ(s.app.settings().url(), c.url_after);
    EXPECT_TRUE(s.t.message_box.shown().empty());
  }
}

TEST(StartupRelocation, ServerFolderName) {
  EXPECT_EQ(server_folder_name("http://h/a/client/"), "client");
  EXPECT_EQ(server_folder_name("http://h/a/client///"), "client");
  EXPECT_EQ(server_folder_name("http://h/a/client"), "client");
  EXPECT_EQ(server_folder_name("client"), "client");
  EXPECT_EQ(server_folder_name("client/"), "client");
  EXPECT_EQ(server_folder_name("///"), "");
  EXPECT_EQ(server_folder_name(""), "");
}

TEST(StartupCleanup, DeletesOnlyTheProgramsLeftoversInItsDirectory) {
  Startup s;
  s.t.dir.write("setup.xml", "exe_name=tarvel\n");
  for (const char* name : {"tarvel_old.bin", "tarvel_", "tarvel_locked", "tarvel", "tarvelx_1",
                           "my_tarvel_1", "_tarvel", "sub/tarvel_deep", "tarvel_dir/keep"}) {
    s.t.dir.write(name, "x");
  }
  std::filesystem::permissions(s.t.dir / "tarvel_locked", std::filesystem::perms::owner_read);
  bool gone_before_first_screen = false;
  StartupParts parts = s.parts();
  parts.first_screen = [&](App&) { gone_before_first_screen = !s.t.dir.exists("tarvel_old.bin"); };
  EXPECT_FALSE(run_startup(s.app, parts));
  EXPECT_TRUE(gone_before_first_screen);
  for (const char* gone : {"tarvel_old.bin", "tarvel_", "tarvel_locked"}) {
    EXPECT_FALSE(s.t.dir.exists(gone)) << gone;
  }
  for (const char* kept : {"tarvel", "tarvelx_1", "my_tarvel_1", "_tarvel", "sub/tarvel_deep",
                           "tarvel_dir/keep", "setup.xml"}) {
    EXPECT_TRUE(s.t.dir.exists(kept)) << kept;
  }
}

TEST(StartupCleanup, WithoutAProgramNameNothingIsDeleted) {
  Startup s;
  s.t.dir.write("_leftover", "x");
  s.t.dir.write("_", "x");
  EXPECT_EQ(clear_leftovers(s.app), 0);
  EXPECT_TRUE(s.t.dir.exists("_leftover"));
  EXPECT_TRUE(s.t.dir.exists("_"));
}

TEST(StartupCleanup, NamesThatWouldReadAsPathsAreLeftAlone) {
  Startup s;
  s.app.settings().set_exe_name("tarvel");
  s.t.dir.write("tarvel_/victim", "x");  // what "tarvel_\victim" would reach
  s.t.dir.write("tarvel_\\victim", "x");
  EXPECT_EQ(clear_leftovers(s.app), 0);
  EXPECT_TRUE(s.t.dir.exists("tarvel_/victim"));
}

}  // namespace
}  // namespace tarvel
