#include "screens/installation_worker.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

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

TEST(GameStatusDocument, ByteForByteAndEmptyWithoutGames) {
  EXPECT_EQ(game_status_document({{"slot", "uptodate"}, {"keno", "install"}}, {"en", "de"}),
            "<![CDATA[<main>"
            "<game type=\"slot\" version=\"uptodate\"></game>\n"
            "<game type=\"keno\" version=\"install\"></game>\n"
            "<lang install=\"en\"></lang>\n"
            "<lang install=\"de\"></lang>\n"
            "</main>]]>");
  EXPECT_EQ(game_status_document({{"a&b", "update"}}, {}),
            "<![CDATA[<main><game type=\"a&b\" version=\"update\"></game>\n</main>]]>")
      << "names go in as they are";
  EXPECT_EQ(game_status_document({}, {"en"}), "");
}

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
    run_installation(t.app);
    return t.app.settings().status();
  }
  [[nodiscard]] bool requested(const std::string& path) const {
    const auto paths = site.requested();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  }
};

TEST(InstallationWorker, AfterLoginTheCommonStageThenEveryGamesStateAndTheInstalledLanguages) {
  WorkerRun w;
  // slot: installed and current; keno: not installed; poker: the server has more.
  w.t.dir.write("common_slot_install.xml", "$version-1.0\n");
  w.t.dir.write("en_slot_install.xml", "$version-1.0\n");
  w.site.write("games/common_slot_update.xml", "$version-1.0\n");
  w.t.dir.write("common_poker_install.xml", "$version-1.0\n");
  w.t.dir.write("en_poker_install.xml", "$version-1.0\n");
  w.site.write("games/common_poker_update.xml", "$version-1.0\n$version-1.1\n");

  EXPECT_EQ(w.run(), (Status{kStatusResult,
                             "game_status==<![CDATA[<main>"
                             "<game type=\"slot\" version=\"uptodate\"></game>\n"
                             "<game type=\"keno\" version=\"install\"></game>\n"
                             "<game type=\"poker\" version=\"update\"></game>\n"
                             "<lang install=\"en\"></lang>\n"
                             "</main>]]>"}));
  EXPECT_EQ(w.t.dir.read("common/app-popup/lobby.txt"), "common/app-popup/lobby.txt");
  EXPECT_EQ(w.t.dir.read("lang/common/en.txt"), "lang/common/en.txt");
  EXPECT_EQ(w.t.dir.read("casino/table.txt"), "casino/table.txt");
  EXPECT_TRUE(w.t.dir.exists("common_install.xml"));
  EXPECT_FALSE(w.t.dir.exists("common_keno_install.xml")) << "update 0 installs nothing";
  const SettingsValues v = w.t.app.settings().snapshot();
  EXPECT_TRUE(v.installation_finished);
  EXPECT_FALSE(v.installation_screen_open);
  EXPECT_EQ(v.item_count, 3);
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
      {"main missing, language current, mode 1", 1, State::missing, State::current, "install", true,
       false},
      {"main newer", 0, State::newer, State::current, "update", false, false},
      {"a newer language outranks a current main", 0, State::current, State::newer, "update", false,
       false},
      {"mandatory main: installed, reported current", 0, State::mandatory, State::current,
       "uptodate", true, false},
      {"mandatory main with a newer language", 0, State::mandatory, State::newer, "update", true,
       false},
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

TEST(InstallationWorker, RngNamesLoseTheirPrefixButAGameNamedRngKeepsIt) {
  WorkerRun w("rngkeno,rng,rngslot");
  EXPECT_EQ(w.run().text,
            "game_status==<![CDATA[<main>"
            "<game type=\"keno\" version=\"install\"></game>\n"
            "<game type=\"rng\" version=\"install\"></game>\n"
            "<game type=\"slot\" version=\"install\"></game>\n"
            "<lang install=\"en\"></lang>\n</main>]]>");
}

TEST(InstallationWorker, NoGamesGiveThePrefixAlone) {
  for (const char* games : {",,", "", "<missing>"}) {
    WorkerRun w(games);
    if (std::string(games) == "<missing>") testing::write_config(w.t.dir.path() + "/", {});
    EXPECT_EQ(w.run(), (Status{kStatusResult, "game_status=="})) << games;
    EXPECT_FALSE(w.requested("games/common_not_found_update.xml"));
  }
}

TEST(InstallationWorker, AGameWhoseMainPackageFailsIsStillReportedWithTheWholeList) {
  WorkerRun w("slot,poker");
  w.from_lobby("game_poker");
  EXPECT_EQ(w.run(), (Status{kStatusResult,
                             "game_install==<![CDATA[<main>"
                             "<game type=\"slot\" version=\"install\"></game>\n"
                             "<game type=\"poker\" version=\"install\"></game>\n"
                             "</main>]]>"}))
      << "no language pack installed yet: the common stage did not run";
  EXPECT_TRUE(w.requested("games/common_poker_install.xml"));
  EXPECT_FALSE(w.requested("common/common_install.xml")) << "no common stage from a lobby";
}

TEST(InstallationWorker, ALobbyRequestInstallsTheGameAndItsLanguageFiles) {
  WorkerRun w("slot");
  w.from_lobby("game_slot");
  w.site.publish(PackageSite::kGames, "common_slot_install.xml", {"games/slot/slot.txt"});
  w.site.publish(PackageSite::kGameLanguages, "en_slot_install.xml", {"lang/games/slot/en.txt"});
  EXPECT_EQ(w.run().text,
            "game_install==<![CDATA[<main><game type=\"slot\" version=\"uptodate\"></game>\n"
            "</main>]]>");
  EXPECT_EQ(w.t.dir.read("games/slot/slot.txt"), "games/slot/slot.txt");
  EXPECT_EQ(w.t.dir.read("lang/games/slot/en.txt"), "lang/games/slot/en.txt");
}

TEST(InstallationWorker, RngRequestsInstallTheirFamilyOnlyWhenItIsNotTheNamesStart) {
  struct Case {
    const char* request;
    bool slot;
    bool videopoker;
  };
  const Case cases[] = {
      {"rnggame_slotmachine", false, false},
      {"rnggame_megaslot", true, false},
      {"rnggame_videopoker9", false, false},
      {"rnggame_xvideopokerslot", true, true},
  };
  for (const Case& c : cases) {
    WorkerRun w("keno");
    w.from_lobby(c.request);
    const Status status = w.run();
    EXPECT_TRUE(status.text.starts_with("game_rnginstall==<![CDATA[<main>")) << c.request;
    EXPECT_EQ(w.requested("games/common_slot_install.xml"), c.slot) << c.request;
    EXPECT_EQ(w.requested("lang/games/en_slot_install.xml"), c.slot) << c.request;
    EXPECT_EQ(w.requested("games/common_videopoker_install.xml"), c.videopoker) << c.request;
    const std::string game = std::string(c.request).substr(8);
    EXPECT_TRUE(w.requested("games/common_" + game + "_install.xml")) << c.request;
  }
}

TEST(InstallationWorker, ALanguageChangeRerunsTheCommonStageInEveryLaterRun) {
  WorkerRun w("slot");
  w.from_lobby("game_slot");
  w.run();
  EXPECT_FALSE(w.requested("common/common_install.xml"));
  w.t.app.settings().set_language_changed(true);
  w.t.app.settings().set_selected_language("de");
  w.site.publish(PackageSite::kCommonLanguages, "de_common_install.xml", {"lang/common/de.txt"});
  EXPECT_EQ(w.run().text,
            "game_install==<![CDATA[<main><game type=\"slot\" version=\"install\"></game>\n"
            "<lang install=\"de\"></lang>\n</main>]]>");
  EXPECT_EQ(w.t.dir.read("lang/common/de.txt"), "lang/common/de.txt");
  const std::size_t before = w.site.request_count();
  w.run();
  EXPECT_EQ(w.site.requested(before).front(), "common/common_update.xml")
      << "a game request after the change starts with the common stage again";
}

TEST(InstallationWorker, AFailedStageLeavesTheFailureAndNoResult) {
  WorkerRun w;
  w.site.write("common/common_install.xml", "$version-1.0\ncommon/gone.txt,\n");
  w.t.app.settings().set_installation_screen_open(true);
  EXPECT_EQ(w.run(), (Status{kStatusDownloadFailed, "Err=401"}));
  const SettingsValues v = w.t.app.settings().snapshot();
  EXPECT_FALSE(v.installation_finished);
  EXPECT_TRUE(v.installation_screen_open) << "the screen waits for retry or exit";
}

TEST(InstallationWorker, ModeTwoInstallsEveryGameInEveryLanguageAndKeepsThePlayersLanguage) {
  WorkerRun w("slot,poker");
  w.t.app.settings().set_update(2);
  for (const char* game : {"slot", "poker"}) {
    const std::string g = game;
    w.site.publish(PackageSite::kGames, "common_" + g + "_install.xml", {"games/" + g + ".txt"});
    for (const char* language : {"en", "de"}) {
      const std::string l = language;
      w.site.publish(PackageSite::kGameLanguages, l + "_" + g + "_install.xml",
                     {"lang/games/" + l + "/" + g + ".txt"});
    }
  }
  EXPECT_EQ(w.run().code, kStatusResult);
  for (const char* file :
       {"games/slot.txt", "games/poker.txt", "lang/games/en/slot.txt", "lang/games/de/slot.txt",
        "lang/games/en/poker.txt", "lang/games/de/poker.txt"}) {
    EXPECT_TRUE(w.t.dir.exists(file)) << file;
  }
  EXPECT_EQ(w.t.app.settings().selected_language(), "en");

  // A pass that stops half-way gives the player's language back as well.
  WorkerRun failing("slot");
  failing.t.app.settings().set_update(2);
  failing.site.publish(PackageSite::kGames, "common_slot_install.xml", {"games/slot.txt"});
  failing.site.publish(PackageSite::kGameLanguages, "en_slot_install.xml", {"lang/en.txt"});
  EXPECT_EQ(failing.run().code, kStatusDownloadFailed) << "no German package";
  EXPECT_EQ(failing.t.app.settings().selected_language(), "en");
}

}  // namespace
}  // namespace tarvel
