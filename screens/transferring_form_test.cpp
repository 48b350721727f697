#include "screens/transferring_form.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "core/settings_readers.hpp"
#include "screens/error_screen.hpp"
#include "screens/index_form.hpp"
#include "screens/login_screen.hpp"
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
  // Until released, a worker that reaches the download of the path hangs in
  // it and the clock runs on meanwhile; time stands still while a worker
  // works towards it, and once released the clock waits for workers again.
  void stall(const std::string& path) {
    site.server.set_fault(path, TestHttpServer::Fault::stall);
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) {
      if (released.load()) return app.workers().join_all();
      while (app.workers().running(WorkerKind::installation) &&
             !site.server.wait_for_stall(std::chrono::milliseconds(10))) {
      }
    });
  }
  void release_at(std::uint64_t ms) {
    t.ui.schedule(kNoWindow, ms, [this] {
      released = true;
      site.server.release_stalls();
    });
  }

  // The main lobby, playing this movie until it leaves; the installation
  // screens it opens play transfer_movie.
  void run_lobby(const std::string& movie, const std::string& transfer_movie) {
    t.dir.write("app-popup/transfer.swf", transfer_movie);
    t.dir.write("index.swf", movie);
    IndexForm lobby(app);
    window = lobby.window();
    EXPECT_TRUE(lobby.show_modal_as_main()) << t.transcript.dump();
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

// The connectivity timer sees the line down for a moment while the work goes
// on: a retry once it is back starts no second worker, but the screen moves
// on when the work is done.
TEST(TransferringForm, RetryWhileTheWorkerRunsStartsNoSecondOneYetClearsAShown402) {
  Installation i;
  i.stall(kSlotStatus);
  i.release_at(15000);
  i.t.ui.schedule(kNoWindow, 9000, [&] { i.resolver.set({false}); });
  i.t.ui.schedule(kNoWindow, 11000, [&] { i.resolver.set({true}); });
  i.run_after_login("after 1000 -> command retry\nafter 12000 -> command retry\n");
  const auto texts = i.received(TransferringForm::kClassName);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Err=402"), 1) << i.t.transcript.dump();
  EXPECT_EQ(i.requests_of("common/common_install.xml"), 1);
  EXPECT_EQ(i.requests_of("common/common_update.xml"), 0) << "no second worker";
  EXPECT_EQ(i.destroyed_at(i.window), 15500) << "at the first tick after the work";
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

// A published package with one file, whose path on the site is also its
// place in the application directory.
void publish(PackageSite& site, const std::string& folder, const std::string& manifest) {
  site.publish(folder, manifest, {folder + manifest + ".txt"});
}

// The language's folders follow every switch, both ways, and a game asked
// for afterwards comes in the language of the moment.
TEST(TransferringForm, ALanguageSwitchInstallsFromTheNewLanguagesFolders) {
  Installation i;
  testing::write_config(i.t.dir.path() + "/", {{"linkLabel", "slot,poker"}});
  i.app.settings().locked(derive_language_addresses);
  for (const char* code : {"en", "de"}) {
    const std::string language = code;
    publish(i.site, "common/language/" + language + "/", language + "_common_install.xml");
    publish(i.site, "games/language/" + language + "/", language + "_poker_install.xml");
  }
  publish(i.site, PackageSite::kGames, "common_poker_install.xml");
  i.wait_for_workers();
  i.run_lobby(
      "after 100 -> command lang==de\n"
      "prefix game_install== #1 -> command game_poker\n"
      "prefix game_install== #2 -> command lang==en\n"
      "prefix game_install== #3 -> command exit\n"
      "after 20000 -> command exit\n",
      "prefix Err= -> command exit\n");

  for (const char* file : {"common/language/de/de_common_install.xml.txt",
                           "games/language/de/de_poker_install.xml.txt",
                           "common/language/en/en_common_install.xml.txt",
                           "games/language/en/en_poker_install.xml.txt"}) {
    EXPECT_TRUE(i.t.dir.exists(file)) << file << "\n" << i.t.transcript.dump();
  }
}

// A game whose file the server has lost: its screen says so and waits; the
// player leaves it, and the lobby still hears how every game stands.
TEST(TransferringForm, AFailedGameIsShownOnItsScreenAndTheLobbyAnsweredAfterExit) {
  Installation i;
  i.site.publish(PackageSite::kGames, "common_poker_install.xml", {"games/poker/poker.swf"});
  i.site.server.set_fault("games/poker/poker.swf", TestHttpServer::Fault::not_found);
  i.wait_for_workers();
  i.run_lobby(
      "after 100 -> command game_poker\n"
      "prefix game_install== -> command exit\n"
      "after 20000 -> command exit\n",
      "prefix Err= -> command exit\n");

  const WindowId screen = i.t.ui.windows_of(TransferringForm::kClassName).at(0);
  EXPECT_EQ(i.t.transcript.texts(Kind::received, screen),
            (std::vector<std::string>{"lang=en", "Err=401"}));
  EXPECT_EQ(i.received(IndexForm::kClassName).back(),
            "game_install==<![CDATA[<main><game type=\"slot\" version=\"uptodate\"></game>\n"
            "</main>]]>");
  EXPECT_LT(i.t.loop_clock.now_ms(), 20000u) << "the answer came after the exit";
}

// The lobby asks for the next game as soon as each answer arrives: every
// installation screen still closes, and no two are open at once.
TEST(TransferringForm, BackToBackGameRequestsCloseEveryInstallationScreen) {
  Installation i;
  for (const char* game : {"poker", "keno"}) {
    const std::string name = game;
    publish(i.site, PackageSite::kGames, "common_" + name + "_install.xml");
    publish(i.site, PackageSite::kGameLanguages, "en_" + name + "_install.xml");
  }
  i.wait_for_workers();
  i.run_lobby(
      "after 100 -> command game_slot\n"
      "prefix game_install== #1 -> command game_poker\n"
      "prefix game_install== #2 -> command game_keno\n"
      "after 5000 -> command exit\n",
      "");

  const auto screens = i.t.ui.windows_of(TransferringForm::kClassName);
  ASSERT_EQ(screens.size(), 3u);
  for (const WindowId screen : screens) {
    const std::int64_t closed = i.destroyed_at(screen);
    EXPECT_TRUE(closed > 0 && closed < 5000) << screen << " closed at " << closed;
  }
  EXPECT_EQ(i.t.ui.windows_of(CError::kClassName).size(), 0u) << "no 405";
  const auto lobby = i.received(IndexForm::kClassName);
  EXPECT_EQ(std::count_if(lobby.begin(), lobby.end(),
                          [](const std::string& text) { return text.starts_with("game_install"); }),
            3);
  EXPECT_FALSE(i.app.settings().installation_screen_open());
}

// While an installation screen is open, the progress of its work is its
// own: neither the lobby nor a screen whose work is done takes it.
TEST(TransferringForm, ProgressGoesToTheScreenWhoseWorkItIs) {
  Installation i;
  testing::write_config(i.t.dir.path() + "/", {{"linkLabel", "slot,poker"}});
  i.t.dir.write("common_poker_install.xml", "$version-1.0\n");
  i.t.dir.write("en_poker_install.xml", "$version-1.0\n");
  i.site.write("games/common_poker_update.xml", "$version-1.0\n");
  i.site.publish("common/language/en/", "en_common_install.xml", {"lang/common/en.txt"});
  // The casino's update manifest, after the common packages of the language
  // change (a stalled one counts as current).
  i.t.dir.write("common_casino_install.xml", "$version-1.0\n");
  i.site.write("common_casino_update.xml", "$version-1.0\n");
  i.stall("common_casino_update.xml");
  i.release_at(3000);
  i.run_lobby(
      "after 100 -> command game_slot\n"
      "prefix game_install== #1 -> command lang==en\n"
      "prefix game_install== #2 -> command exit\n"
      "after 20000 -> command exit\n",
      "");

  const auto progress_of = [&](WindowId id) {
    std::vector<std::string> lines;
    for (const std::string& text : i.t.transcript.texts(Kind::received, id)) {
      if (text.starts_with("progress=")) lines.push_back(text.substr(9));
    }
    return lines;
  };
  const auto screens = i.t.ui.windows_of(TransferringForm::kClassName);
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(progress_of(i.window), std::vector<std::string>{}) << "the lobby";
  EXPECT_EQ(progress_of(screens[0]), std::vector<std::string>{}) << "its own run had finished";
  EXPECT_EQ(progress_of(screens[1]), std::vector<std::string>{"1,1,asset,en"})
      << "the casino's manifest after the language pack's one file";
}

// A login tried offline leaves nothing behind that the installation screen
// would take for a lost line: the second try, online, reaches the lobby.
TEST(TransferringForm, ALoginTriedOfflineThenOnlineReachesTheLobby) {
  Installation i;
  i.app.settings().set_default_language("en");
  testing::RequestServiceDouble service;
  service.answer({200, testing::login_answer("0", testing::kTicketedRest), {}});
  testing::write_config(i.t.dir.path() + "/",
                        {{"linkLabel", "slot"}, {"ServerURL", service.address()}});
  // A login takes the language's folders of the login's language.
  i.site.publish("common/language/en/", "en_common_install.xml", {"lang/common/en.txt"});
  i.resolver.set({false, true});
  i.t.dir.write("app-popup/login.swf",
                "prefix lang= -> call validate player secret en\n"
                "text Err=402 -> call validate player secret en\n");
  i.t.dir.write("app-popup/transfer.swf", "");
  // The installation's first file takes a while: its screen looks at the
  // status pair before the work has written to it.
  i.stall("common/common_install.xml");
  i.release_at(2000);
  i.site.server.set_fault("common/common_install.xml", TestHttpServer::Fault::stall, 1);
  i.t.loop_clock.set_limit_ms(20'000);
  CCorvaneDlg login(i.app);
  EXPECT_TRUE(login.show_modal_as_main()) << i.t.transcript.dump();

  EXPECT_EQ(i.received(CCorvaneDlg::kClassName), (std::vector<std::string>{"lang=en", "Err=402"}));
  EXPECT_EQ(i.received(TransferringForm::kClassName), std::vector<std::string>{"lang=en"});
  EXPECT_EQ(i.received(IndexForm::kClassName).back(), std::string("game_status==") + kSlotDocument);
}

}  // namespace
}  // namespace tarvel
