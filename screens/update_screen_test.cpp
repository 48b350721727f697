#include "screens/update_screen.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "core/settings_readers.hpp"
#include "screens/login_screen.hpp"
#include "screens/transferring_form.hpp"
#include "tests/support/eventually.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/self_update.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;
using Strings = std::vector<std::string>;
using testing::TestHttpServer;

constexpr const char* kInstalled = "$version-1.1";

// The public host resolves while the network is up; a test may take it down
// at any time, from the user-interface thread, while a worker asks.
class Network final : public Resolver {
 public:
  [[nodiscard]] std::optional<Ipv4Address> resolve(const std::string& host) override {
    if (!up.load() || host != "localhost") return std::nullopt;
    return Ipv4Address{127, 0, 0, 1};
  }
  std::atomic<bool> up{true};
};

// A download server with the launcher's files and its login package, and a
// launcher in its temporary directory pointed at it. The clock stands still
// while the update check worker runs (unless a test lets it run), so every
// timer tick sees what the worker finished with.
struct UpdateCheck {
  UpdateCheck() {
    Settings& s = app.settings();
    apply_defaults(s);
    s.set_application_directory(t.dir.path() + "/");
    s.set_url(server.url("client/"));
    s.set_version(kInstalled);
    s.set_exe_name("tarvel");
    s.set_default_language("en");
    testing::write_config(s.application_directory(), {{"LoginFormText", "Tarvel Casino"}},
                          testing::ConfigLayout::values_on_own_lines);
    site.write("client/setup.xml", std::string("url=x\nversion=") + kInstalled + "\n");
    site.write("client/update_login_install.xml",
               "$version-1.0\nlogin/login.swf,app-popup\\\nlogin/back.png,app-popup\\\n");
    site.write("client/login/login.swf", "after 100 -> command exit\n");
    site.write("client/login/back.png", "png");
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) {
      if (hold_clock_for_worker) app.workers().join_all();
    });
  }

  void movie(const std::string& script) { t.dir.write("app-popup/checkUpdate.swf", script); }
  void run() { Update::show_modal(app); }

  [[nodiscard]] Strings received(const std::string& screen = Update::kClassName) const {
    return t.transcript.texts(Kind::received, screen);
  }
  // When a text reached the update check movie, each time it did.
  [[nodiscard]] std::vector<std::uint64_t> times_of(const std::string& text) const {
    std::vector<std::uint64_t> times;
    for (const auto& e : t.transcript.entries()) {
      if (e.kind == Kind::received && e.screen == Update::kClassName && e.text == text) {
        times.push_back(e.time_ms);
      }
    }
    return times;
  }
  // When the first window of a class was created; -1 when none was.
  [[nodiscard]] long long opened_at(const std::string& screen) const {
    for (const auto& e : t.transcript.entries()) {
      if (e.kind == Kind::window && e.screen == screen && e.text == "created") {
        return static_cast<long long>(e.time_ms);
      }
    }
    return -1;
  }
  [[nodiscard]] int requests_for(const std::string& path) const {
    int count = 0;
    for (const auto& r : server.requests()) count += r.path == path ? 1 : 0;
    return count;
  }
  // Lets the clock run once the worker is stuck in a stalled download, until
  // a test holds it again. Files of a list travel side by side: stuck means
  // every other file of the list is in place too.
  void run_clock_while_stalled() {
    hold_clock_for_worker = false;
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) {
      if (!stall_seen) {
        stall_seen = server.wait_for_stall(std::chrono::seconds(20)) &&
                     testing::eventually([this] { return all_but_one_in_place(); });
      }
      if (hold_clock_for_worker) app.workers().join_all();
    });
  }
  [[nodiscard]] bool all_but_one_in_place() {
    const SettingsValues v = app.settings().snapshot();
    return v.item_index + 1 >= v.item_count;
  }
  [[nodiscard]] bool update_window_open() const {
    const auto windows = t.ui.windows_of(Update::kClassName);
    return !windows.empty() && t.ui.exists(windows.front());
  }

  testing::TempDir site;
  TestHttpServer server{site.path()};
  testing::TestApp t;
  Network network;
  App app{t.services_with([this](Services& s) { s.resolver = &network; }), "localhost"};
  bool hold_clock_for_worker = true;
  bool stall_seen = false;
};

TEST(UpdateScreen, OfflineReportsOnceAndARetryOfflineSaysSoAgainWithoutAWorker) {
  UpdateCheck u;
  u.network.up = false;
  u.movie("after 1000 -> command retry\nafter 2000 -> command exit\n");
  u.run();
  EXPECT_EQ(u.received(), (Strings{"lang=en", "Err=402", "Err=402"}));
  EXPECT_EQ(u.times_of("Err=402"), (std::vector<std::uint64_t>{200, 1000}));
  EXPECT_TRUE(u.server.requests().empty());
  EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), -1);
}

TEST(UpdateScreen, CurrentLauncherOpensTheLoginScreenAtTheFirstTickAfterTheCheck) {
  UpdateCheck u;
  u.movie("");
  u.run();
  // The progress line of the login package's second file is relayed as it
  // is; the worker's "status=1" never reaches the movie.
  EXPECT_EQ(u.received(), (Strings{"lang=en", "1,2,,"}));
  EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), 200);
  EXPECT_EQ(u.t.dir.read("app-popup/back.png"), "png");
  EXPECT_TRUE(u.t.dir.exists("update_login_install.xml"));
  // The login movie came with the package; its "exit" ended the run.
  EXPECT_EQ(u.t.transcript.texts(Kind::command, CCorvaneDlg::kClassName), (Strings{"exit"}));
  EXPECT_FALSE(u.update_window_open());
  EXPECT_EQ(u.opened_at(TransferringForm::kClassName), -1);
}

// A replacement that works is run by the program test; here a purge, and a
// replacement whose download fails: the screen closes all the same.
TEST(UpdateScreen, ALauncherReleaseIsAppliedTheLoginPackageInstalledAndTheRunEnds) {
  for (const std::string release : {kReleaseFlash, kReleaseExe}) {
    UpdateCheck u;
    u.t.dir.write("tarvel", "old launcher");
    u.t.dir.write("games/slot/a.swf", "installed game");
    u.site.write("client/setup.xml", "url=x\nversion=$version-1.2\nversion_type=" + release);
    u.movie("after 5000 -> command exit\n");
    u.run();

    EXPECT_LT(u.t.loop_clock.now_ms(), 5000u) << release << ": closed by itself";
    EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), -1) << release;
    EXPECT_EQ(u.t.dir.read("app-popup/login.swf"), "after 100 -> command exit\n") << release;
    EXPECT_EQ(u.t.dir.read("tarvel"), "old launcher") << release;
    EXPECT_EQ(u.t.dir.exists("games"), release == kReleaseExe) << release;
  }
}

TEST(UpdateScreen, ProgressIsRelayedOnceARetryWhileCheckingDoesNothingAFailureWaits) {
  UpdateCheck u;
  u.site.write("client/update_login_install.xml",
               "$version-1.0\nlogin/login.swf,app-popup\\\nlogin/back.png,app-popup\\\n"
               "login/big.png,app-popup\\\n");
  u.site.write("client/login/big.png", std::string(64 * 1024, 'b'));
  u.server.set_fault("client/login/big.png", TestHttpServer::Fault::stall);
  // The third file stalls with the second one's progress posted; the worker
  // fails once the server lets go.
  u.run_clock_while_stalled();
  // The network goes while the check runs: a retry then must not report
  // what the check will report in its turn.
  u.t.ui.schedule(kNoWindow, 250, [&] { u.network.up = false; });
  u.t.ui.schedule(kNoWindow, 700, [&] {
    u.server.release_stalls();
    u.hold_clock_for_worker = true;
  });
  u.movie("after 300 -> command retry\ntext Err=402 -> command exit\n");
  u.run();

  ASSERT_TRUE(u.stall_seen);
  EXPECT_EQ(u.received(), (Strings{"lang=en", "2,3,,", "Err=402"}));
  EXPECT_EQ(u.times_of("2,3,,"), (std::vector<std::uint64_t>{200}));
  EXPECT_EQ(u.times_of("Err=402"), (std::vector<std::uint64_t>{800}));
  EXPECT_EQ(u.requests_for("client/setup.xml"), 1) << "the retry started no second check";
  EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), -1);
  EXPECT_FALSE(u.t.dir.exists("update_login_install.xml"));
}

TEST(UpdateScreen, ExitWhileCheckingEndsTheRunAndTheCheckStopsWithTheLauncher) {
  UpdateCheck u;
  u.server.set_fault("client/login/back.png", TestHttpServer::Fault::stall);
  u.run_clock_while_stalled();
  u.movie("after 300 -> command exit\n");
  u.run();

  ASSERT_TRUE(u.stall_seen);
  EXPECT_FALSE(u.update_window_open());
  // Nothing waited for the check; the launcher stops it as it goes.
  EXPECT_TRUE(u.app.workers().running(WorkerKind::update_check));
  u.app.workers().stop_and_join();
  EXPECT_FALSE(u.t.dir.exists("update_login_install.xml"));
  EXPECT_EQ(u.app.settings().status(), Status{}) << "a stopped download reports nothing";
}

TEST(UpdateScreen, ARetryOnlineAfterAFailureChecksAgain) {
  UpdateCheck u;
  u.server.set_fault("client/login/back.png", TestHttpServer::Fault::not_found);
  // The first check has failed by then (the clock waits for it).
  u.t.ui.schedule(kNoWindow, 100, [&] {
    u.server.set_fault("client/login/back.png", TestHttpServer::Fault::none);
  });
  u.movie("text Err=401 -> command retry\n");
  u.run();
  EXPECT_EQ(u.received(), (Strings{"lang=en", "Err=401", "1,2,,"}));
  EXPECT_EQ(u.requests_for("client/setup.xml"), 2);
  EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), 400);
}

TEST(UpdateScreen, OnlyExitClosesItNeitherKeysNorOtherCommands) {
  UpdateCheck u;
  u.server.set_fault("client/update_login_install.xml", TestHttpServer::Fault::not_found);
  u.movie("after 100 -> command ok\nafter 150 -> command \"\"\nafter 900 -> command exit\n");
  bool open_after_keys = false;
  u.t.ui.schedule(kNoWindow, 500, [&] {
    for (const int key : {kKeyEscape, kKeyEnter, kKeyCancel}) u.t.ui.synthesize_key({key, true});
  });
  u.t.ui.schedule(kNoWindow, 800, [&] { open_after_keys = u.update_window_open(); });
  u.run();
  EXPECT_TRUE(open_after_keys);
  EXPECT_EQ(u.t.loop_clock.now_ms(), 900u);
  EXPECT_FALSE(u.update_window_open());
  const Strings keys = u.t.transcript.texts(Kind::key, Update::kClassName);
  // The Escape of the activation reaches the movie too.
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "27 down reached the movie"), 2);
  EXPECT_EQ(u.opened_at(CCorvaneDlg::kClassName), -1);
}

}  // namespace
}  // namespace tarvel
