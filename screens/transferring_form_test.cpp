#include "screens/transferring_form.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "core/settings_readers.hpp"
#include "screens/index_form.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;
using testing::PackageSite;
using testing::TestHttpServer;

constexpr const char* kLanguageMenu =
    "<lang_menu><menu name=\"en\" lang=\"English\"></menu></lang_menu>\n";
constexpr const char* kSlotStatus = "games/common_slot_update.xml";

// A launcher right after login ("en") whose site has the common packages and
// the game "slot", which the lobby lists and which is installed already.
struct Installation {
  Installation() : app(t.services_with([this](Services& s) { s.resolver = &resolver; })) {
    site.log_in(app, t.dir);
    app.settings().set_login_properties("<p/>");
    t.dir.write("app-popup/abb_language.xml", kLanguageMenu);
    testing::write_config(t.dir.path() + "/", {{"linkLabel", "slot"}});
    site.publish_common({"common/a.txt"});
    site.publish(PackageSite::kCommonLanguages, "en_common_install.xml", {"lang/common/en.txt"});
    site.publish("", "common_casino_install.xml", {"casino/table.txt"});
    t.dir.write("common_slot_install.xml", "$version-1.0\n");
    t.dir.write("en_slot_install.xml", "$version-1.0\n");
    site.write(kSlotStatus, "$version-1.0\n");
    t.dir.write("index.swf", "prefix game_status== -> command exit\n");
  }
  ~Installation() { t.ui.close_kept_screens(); }

  // The clock waits for each installation worker to end.
  void wait_for_workers() {
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) { app.workers().join_all(); });
  }
  // Until released, the worker hangs in the download of the path and the
  // clock runs on meanwhile; afterwards the clock waits for workers again.
  void stall(const std::string& path) {
    site.server.set_fault(path, TestHttpServer::Fault::stall);
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) {
      if (released.load()) return app.workers().join_all();
      if (app.workers().running(WorkerKind::installation)) {
        EXPECT_TRUE(site.server.wait_for_stall(std::chrono::seconds(30)));
      }
    });
  }
  void release_at(std::uint64_t ms) {
    t.ui.schedule(kNoWindow, ms, [this] {
      released = true;
      site.server.release_stalls();
    });
  }

  void run_after_login(const std::string& movie) {
    t.dir.write("app-popup/transfer.swf", movie);
    TransferringForm form(app);
    window = form.window();
    EXPECT_TRUE(form.show_modal_as_main()) << t.transcript.dump();
  }

  [[nodiscard]] std::vector<std::string> received(const char* screen) const {
    return t.transcript.texts(Kind::received, screen);
  }
  [[nodiscard]] std::int64_t destroyed_at(WindowId id) const {
    const auto time = t.transcript.time_of(id, "destroyed");
    return time ? static_cast<std::int64_t>(*time) : -1;
  }
  [[nodiscard]] long requests_of(const std::string& path) const {
    const auto paths = site.requested();
    return std::count(paths.begin(), paths.end(), path);
  }

  testing::TestApp t;
  PackageSite site;
  testing::OnlineSwitch resolver;
  App app;
  WindowId window = kNoWindow;
  std::atomic<bool> released{false};
};

constexpr const char* kSlotDocument =
    "<![CDATA[<main><game type=\"slot\" version=\"uptodate\"></game>\n"
    "<lang install=\"en\"></lang>\n</main>]]>";

// Offline from the start: the connectivity timer's 402 reaches the movie
// once; the worker then finishes, but the screen waits for a retry that
// finds the line back.
TEST(TransferringForm, A402IsShownOnceAndHoldsTheScreenUntilARetryWithAConnection) {
  Installation i;
  i.resolver.set({false});
  i.stall(kSlotStatus);
  i.release_at(15000);
  i.t.ui.schedule(kNoWindow, 40000, [&] {
    i.resolver.set({true});
    i.site.server.set_fault(kSlotStatus, TestHttpServer::Fault::none);
  });
  i.run_after_login(
      "after 30000 -> command retry\n"
      "after 45000 -> command retry\n");

  const auto texts = i.received(TransferringForm::kClassName);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Err=402"), 1) << i.t.transcript.dump();
  EXPECT_EQ(i.destroyed_at(i.window), 45500) << "not when the first worker finished";
  EXPECT_EQ(i.received(IndexForm::kClassName).back(), std::string("game_status==") + kSlotDocument);
  EXPECT_EQ(i.requests_of("common/common_update.xml"), 1) << "the second worker's first request";
}

TEST(TransferringForm, RetryWhileTheWorkerRunsDoesNothing) {
  Installation i;
  i.stall(kSlotStatus);
  i.release_at(2000);
  i.run_after_login("after 1000 -> command retry\n");
  EXPECT_EQ(i.requests_of("common/common_install.xml"), 1);
  EXPECT_EQ(i.requests_of("common/common_update.xml"), 0) << "no second worker";
  EXPECT_EQ(i.t.ui.windows_of(IndexForm::kClassName).size(), 1u);
}

// The first game's screen is left while its worker hangs; the second game's
// screen starts its worker only once the first has ended, then closes by
// itself, and the lobby relays the result.
TEST(TransferringForm, FromALobbyAScreenWaitsForAnEarlierWorkerThenClosesWhenDone) {
  Installation i;
  testing::write_config(i.t.dir.path() + "/", {{"linkLabel", "slot,poker"}});
  i.app.settings().set_current_screen_marker("INDEX_FORM");
  i.site.publish(PackageSite::kGames, "common_poker_install.xml", {"games/poker.txt"});
  i.site.publish(PackageSite::kGameLanguages, "en_poker_install.xml", {"lang/games/en/poker.txt"});
  i.stall("games/common_slot_update.xml");
  i.release_at(1000);
  i.t.dir.write("app-popup/transfer.swf", "after 100 -> command exit\n");
  // Later screens play nothing.
  i.t.ui.schedule(kNoWindow, 250, [&] { i.t.dir.write("app-popup/transfer.swf", ""); });
  i.t.dir.write("index.swf",
                "after 100 -> command game_slot\n"
                "after 300 -> command game_poker\n"
                "after 5000 -> command exit\n");
  IndexForm lobby(i.app);
  ASSERT_TRUE(lobby.show_modal_as_main());

  const auto screens = i.t.ui.windows_of(TransferringForm::kClassName);
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(i.destroyed_at(screens[0]), 200) << "its exit";
  EXPECT_GT(i.destroyed_at(screens[1]), 1000);
  EXPECT_LT(i.destroyed_at(screens[1]), 5000) << "closed by itself when its work was done";
  const auto paths = i.site.requested();
  const auto slot = std::find(paths.begin(), paths.end(), "games/common_slot_update.xml");
  const auto poker = std::find(paths.begin(), paths.end(), "games/common_poker_install.xml");
  ASSERT_NE(poker, paths.end());
  EXPECT_LT(slot, poker);
  EXPECT_EQ(i.t.dir.read("games/poker.txt"), "games/poker.txt");
  EXPECT_EQ(i.received(IndexForm::kClassName).back(),
            "game_install==<![CDATA[<main>"
            "<game type=\"slot\" version=\"uptodate\"></game>\n"
            "<game type=\"poker\" version=\"uptodate\"></game>\n</main>]]>")
      << "no language pack: the common stage never ran";
  EXPECT_FALSE(i.app.settings().installation_screen_open());
}

}  // namespace
}  // namespace tarvel
