#include "screens/installation_worker.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/settings_readers.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using testing::PackageSite;

constexpr const char* kLanguageMenu =
    "<?xml version=\"1.0\"?>\n<lang_menu>\n"
    "<menu name=\"en\" lang=\"English\"></menu>\n"
    "<menu name=\"de\" lang=\"Deutsch\"></menu>\n"
    "</lang_menu>\n";

// A launcher after login (language "en") with the site's addresses, the
// two-language menu, and the common, common language and casino packages
// published.
struct WorkerRun {
  PackageSite site;
  testing::TestApp t;

  explicit WorkerRun(const std::string& games = "slot,rngkeno,poker") {
    site.log_in(t.app, t.dir);
    t.dir.write("app-popup/abb_language.xml", kLanguageMenu);
    testing::write_config(t.dir.path() + "/", {{"linkLabel", games}});
    site.publish_common({"common/app-popup/lobby.txt"});
    site.publish(PackageSite::kCommonLanguages, "en_common_install.xml", {"lang/common/en.txt"});
    site.publish("", "common_casino_install.xml", {"casino/table.txt"});
  }
  // As if a lobby asked for the game.
  void from_lobby(const std::string& request) {
    t.app.settings().set_current_screen_marker(kLobbyMarker);
    t.app.settings().set_game_request(request);
  }
  Status run() {
    run_installation(t.app, last_run);
    return t.app.settings().status();
  }
  [[nodiscard]] bool requested(const std::string& path) const {
    const auto paths = site.requested();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  }
  InstallationRun last_run;
};

TEST(InstallationWorker, AfterLoginTheCommonStageThenEveryGamesStateAndTheInstalledLanguages) {
  WorkerRun w("slot,rngkeno,rng,poker");
  // slot: installed and current; keno and rng: not installed; poker: the
  // server has more.
  for (const char* game : {"slot", "poker"}) {
    w.t.dir.write(std::string("common_") + game + "_install.xml", "$version-1.0\n");
    w.t.dir.write(std::string("en_") + game + "_install.xml", "$version-1.0\n");
  }
  w.site.write("games/common_slot_update.xml", "$version-1.0\n");
  w.site.write("games/common_poker_update.xml", "$version-1.0\n$version-1.1\n");

  EXPECT_EQ(w.run(), (Status{kStatusResult,
                             "game_status==<![CDATA[<main>"
                             "<game type=\"slot\" version=\"uptodate\"></game>\n"
                             "<game type=\"keno\" version=\"install\"></game>\n"
                             "<game type=\"rng\" version=\"install\"></game>\n"
                             "<game type=\"poker\" version=\"update\"></game>\n"
                             "<lang install=\"en\"></lang>\n"
                             "</main>]]>"}));
  EXPECT_EQ(w.t.dir.read("common/app-popup/lobby.txt"), "common/app-popup/lobby.txt");
  EXPECT_EQ(w.t.dir.read("casino/table.txt"), "casino/table.txt");
  EXPECT_TRUE(w.last_run.finished && w.last_run.ended);
}

// One game "g" (listed as "rngg") with its main and language packages in
// given states: what the status pass reports and what it installs.
TEST(InstallationWorker, ReportedStatesAndWhatEachModeInstalls) {
  enum class State { missing, current, newer, mandatory };
  struct Case {
    const char* what;
    int mode;
    State main;
    State language;
    const char* reported;
    bool main_installed;
    bool language_installed;
  };
  const Case cases[] = {
      {"not installed, mode 0", 0, State::missing, State::missing, "install", false, false},
      {"not installed, mode 1: installed, still reported", 1, State::missing, State::missing,
       "install", true, true},
      {"main newer", 0, State::newer, State::current, "update", false, false},
      {"a newer language outranks a current main", 0, State::current, State::newer, "update", false,
       false},
      {"mandatory main: installed, reported current", 0, State::mandatory, State::current,
       "uptodate", true, false},
      {"mandatory language: installed, the main state reported", 0, State::current,
       State::mandatory, "uptodate", false, true},
  };
  // The local installation manifest and the server's update manifest of a
  // package in a state; an update brings the file "g/<tag>_new.txt".
  const auto set_up = [](WorkerRun& w, State state, const std::string& local,
                         const std::string& server, const std::string& tag) {
    const std::string entry = "GAMES/g/" + tag + "_new.txt,g\\\n";
    w.site.write("games/g/" + tag + "_new.txt", "new");
    switch (state) {
      case State::missing:
        return;
      case State::current:
        w.t.dir.write(local, "$version-1.0\n");
        return w.site.write(server, "$version-1.0\n");
      case State::newer:
        w.t.dir.write(local, "$version-1.0\n");
        return w.site.write(server, "$version-1.0\n$version-1.1\n" + entry);
      case State::mandatory:
        w.t.dir.write(local, "$versionm-1\n$version-1.0\n");
        return w.site.write(server, "$versionm-1\n$version-1.0\n$versionm-2\n" + entry);
    }
  };
  for (const Case& c : cases) {
    WorkerRun w("rngg");
    w.t.app.settings().set_update(c.mode);
    set_up(w, c.main, "common_g_install.xml", "games/common_g_update.xml", "main");
    set_up(w, c.language, "en_g_install.xml", "lang/games/en_g_update.xml", "en");
    // What a first installation fetches.
    w.site.publish(PackageSite::kGames, "common_g_install.xml", {"g/main_new.txt"});
    w.site.publish(PackageSite::kGameLanguages, "en_g_install.xml", {"g/en_new.txt"});

    EXPECT_EQ(w.run().text, "game_status==<![CDATA[<main><game type=\"g\" version=\"" +
                                std::string(c.reported) +
                                "\"></game>\n<lang install=\"en\"></lang>\n</main>]]>")
        << c.what;
    EXPECT_EQ(w.t.dir.exists("g/main_new.txt"), c.main_installed) << c.what;
    EXPECT_EQ(w.t.dir.exists("g/en_new.txt"), c.language_installed) << c.what;
  }
}

TEST(InstallationWorker, NoGamesGiveThePrefixAlone) {
  for (const char* games : {",,", "", "<missing>"}) {
    WorkerRun w(games);
    if (std::string(games) == "<missing>") testing::write_config(w.t.dir.path() + "/", {});
    EXPECT_EQ(w.run(), (Status{kStatusResult, "game_status=="})) << games;
    EXPECT_FALSE(w.requested("games/common_not_found_update.xml"));
  }
}

// From a lobby: no common stage, the requested game (and for an RNG game the
// family it belongs to, unless its name starts with it), then every game.
TEST(InstallationWorker, FromALobbyTheRequestedGameThenTheWholeList) {
  struct Case {
    const char* request;
    const char* prefix;
    bool slot;
    bool videopoker;
  };
  const Case cases[] = {
      {"game_roulette", "game_install==", false, false},
      {"rnggame_slotmachine", "game_rnginstall==", false, false},
      {"rnggame_megaslot", "game_rnginstall==", true, false},
      {"rnggame_videopoker9", "game_rnginstall==", false, false},
      {"rnggame_xvideopokerslot", "game_rnginstall==", true, true},
  };
  for (const Case& c : cases) {
    WorkerRun w("keno,poker");
    w.from_lobby(c.request);
    const std::string request = c.request;
    const std::string game = request.substr(request.find('_') + 1);
    w.site.publish(PackageSite::kGames, "common_" + game + "_install.xml", {});
    w.site.publish(PackageSite::kGameLanguages, "en_" + game + "_install.xml", {});
    EXPECT_EQ(w.run(),
              (Status{kStatusResult, std::string(c.prefix) +
                                         "<![CDATA[<main>"
                                         "<game type=\"keno\" version=\"install\"></game>\n"
                                         "<game type=\"poker\" version=\"install\"></game>\n"
                                         "</main>]]>"}))
        << c.request;
    EXPECT_TRUE(w.requested("games/common_" + game + "_install.xml")) << c.request;
    EXPECT_EQ(w.requested("games/common_slot_install.xml"), c.slot) << c.request;
    EXPECT_EQ(w.requested("lang/games/en_slot_install.xml"), c.slot) << c.request;
    EXPECT_EQ(w.requested("games/common_videopoker_install.xml"), c.videopoker) << c.request;
    EXPECT_FALSE(w.requested("common/common_install.xml")) << c.request;
  }
}

TEST(InstallationWorker, ModeTwoInstallsEveryGameInEveryLanguageAndKeepsThePlayersLanguage) {
  WorkerRun w("slot");
  w.t.app.settings().set_update(2);
  w.site.publish(PackageSite::kGames, "common_slot_install.xml", {"games/slot.txt"});
  w.site.publish(PackageSite::kGameLanguages, "en_slot_install.xml", {"lang/games/en.txt"});
  // No German package yet: the pass stops, with the player's language back.
  EXPECT_EQ(w.run().code, kStatusDownloadFailed);
  EXPECT_EQ(w.t.app.settings().selected_language(), "en");

  w.site.publish(PackageSite::kGameLanguages, "de_slot_install.xml", {"lang/games/de.txt"});
  EXPECT_EQ(w.run().code, kStatusResult);
  for (const char* file : {"games/slot.txt", "lang/games/en.txt", "lang/games/de.txt"}) {
    EXPECT_TRUE(w.t.dir.exists(file)) << file;
  }
  EXPECT_EQ(w.t.app.settings().selected_language(), "en");
}

}  // namespace
}  // namespace tarvel
