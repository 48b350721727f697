#include "screens/index_form.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "core/settings_readers.hpp"
#include "screens/error_screen.hpp"
#include "screens/html_browser.hpp"
#include "screens/transferring_form.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;
using Config = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kProperties = "<properties><user>Ann</user></properties>";

// A main lobby after login (player "Ann", language "en") on a launcher pointed
// at an empty package site, so installation screens it opens fail at once.
// The clock waits for installation workers, so their results come in order.
struct Lobby {
  explicit Lobby(const Config& config = {}, std::deque<bool> online = {true})
      : resolver(std::move(online)),
        app(t.services_with([this](Services& s) { s.resolver = &resolver; })) {
    site.log_in(app, t.dir);
    Settings& s = app.settings();
    s.set_user_name("Ann");
    s.set_login_properties(kProperties);
    testing::write_config(t.dir.path() + "/", config);
    t.loop_clock.on_wait([this](std::uint64_t, std::uint64_t) { app.workers().join_all(); });
  }
  ~Lobby() { t.ui.close_kept_screens(); }

  // Runs the main lobby with this movie script until it exits. Lobbies
  // opened later play the second script (every lobby plays "index.swf").
  void run(const std::string& script, const std::string& later_lobbies = "") {
    t.dir.write("index.swf", script);
    t.ui.schedule(kNoWindow, 50,
                  [this, later_lobbies] { t.dir.write("index.swf", later_lobbies); });
    IndexForm lobby(app);
    window = lobby.window();
    ASSERT_TRUE(lobby.show_modal_as_main()) << t.transcript.dump();
  }
  // Sends one command at 100 ms and leaves at 1000 ms.
  void command(const std::string& command) {
    run("after 100 -> command \"" + command + "\"\nafter 1000 -> command exit\n");
  }

  struct Browser {
    std::string address;
    bool owned_by_lobby = false;
    Rect page;
    bool operator==(const Browser&) const = default;
  };
  [[nodiscard]] std::vector<Browser> browsers() const {
    std::vector<Browser> found;
    for (const WindowId id : t.ui.windows_of(HtmlBrowser::kClassName)) {
      Browser b;
      for (const TranscriptEntry& e : t.transcript.entries()) {
        if (e.kind == Kind::browser && e.window == id) b.address = e.text.substr(9);
      }
      b.owned_by_lobby = t.ui.window(id)->owner == window;
      b.page = t.ui.window(id)->control;
      found.push_back(b);
    }
    return found;
  }
  [[nodiscard]] std::size_t count(const char* class_name) const {
    return t.ui.windows_of(class_name).size();
  }
  [[nodiscard]] std::vector<std::string> received(WindowId id) const {
    return t.transcript.texts(Kind::received, id);
  }
  // When the window was destroyed, or -1.
  [[nodiscard]] std::int64_t destroyed_at(WindowId id) const {
    const auto time = t.transcript.time_of(id, "destroyed");
    return time ? static_cast<std::int64_t>(*time) : -1;
  }

  testing::TestApp t;
  testing::PackageSite site;
  testing::OnlineSwitch resolver;
  App app;
  WindowId window = kNoWindow;
};

const Rect kDefaultPage{0, 0, 1000, 675};

TEST(Lobby, EachCommandRule) {
  const Config config = {{"more_game", "http://127.0.0.1:1/more"}};
  using Browsers = std::vector<Lobby::Browser>;
  struct Case {
    const char* command;
    Browsers browsers;
    std::size_t installations;
    std::size_t lobbies;
    const char* language;
    const char* game_request;
  };
  const Browsers none;
  const Case cases[] = {
      {"exit ", none, 0, 1, "en", ""},
      {"exi", none, 0, 1, "en", ""},
      {"", none, 0, 1, "en", ""},
      {"http", none, 0, 1, "en", ""},
      {"http://127.0.0.1:1/news",
       {{"http://127.0.0.1:1/news", true, kDefaultPage}},
       0,
       1,
       "en",
       ""},
      {"more_game", {{"http://127.0.0.1:1/more", false, kDefaultPage}}, 0, 1, "en", ""},
      {"lang==de", none, 1, 1, "de", ""},
      {"langde", none, 0, 1, "en", ""},
      {"lang", none, 0, 1, "en", ""},
      {"rnggame", none, 0, 1, "en", ""},
      {"rnggame_", none, 1, 1, "en", "rnggame_"},
      {"rnggame_keno", none, 1, 1, "en", "rnggame_keno"},
      {"play_game_poker", none, 1, 1, "en", "play_game_poker"},
      {"multi=hall", none, 0, 2, "en", ""},
      {"go multi=hall", none, 0, 2, "en", ""},
  };
  for (const Case& c : cases) {
    Lobby l(config);
    l.command(c.command);
    EXPECT_EQ(l.destroyed_at(l.window), 1000) << "'" << c.command << "' closed the lobby";
    EXPECT_EQ(l.browsers(), c.browsers) << "'" << c.command << "'";
    EXPECT_EQ(l.count(TransferringForm::kClassName), c.installations) << "'" << c.command << "'";
    EXPECT_EQ(l.count(IndexForm::kClassName), c.lobbies) << "'" << c.command << "'";
    EXPECT_EQ(l.count(CError::kClassName), 0u) << "'" << c.command << "'";
    const SettingsValues v = l.app.settings().snapshot();
    EXPECT_EQ(v.selected_language, c.language) << "'" << c.command << "'";
    EXPECT_EQ(v.language_changed, std::string(c.language) != "en") << "'" << c.command << "'";
    EXPECT_EQ(v.game_request, c.game_request) << "'" << c.command << "'";
    EXPECT_EQ(v.saved_game_request, c.game_request) << "'" << c.command << "'";
  }
}

TEST(Lobby, ASecondaryLobbyKeepsItsTemplateSizeAndSendsItsTextOnce) {
  Lobby l;
  l.run("after 100 -> command \"x multi=hall\"\nafter 3000 -> command exit\n",
        "after 1800 -> command exit\n");
  const auto lobbies = l.t.ui.windows_of(IndexForm::kClassName);
  ASSERT_EQ(lobbies.size(), 2u);
  const WindowState& second = *l.t.ui.window(lobbies[1]);
  EXPECT_EQ(second.rect, Rect{});
  EXPECT_FALSE(second.centred);
  EXPECT_EQ(second.owner, kNoWindow);
  EXPECT_TRUE(second.resizable && l.t.ui.window(l.window)->resizable)
      << "every lobby's frame can be dragged";
  EXPECT_EQ(l.destroyed_at(lobbies[1]), 1900) << "its own exit closes only it";
  EXPECT_EQ(l.destroyed_at(l.window), 3000);
  EXPECT_EQ(l.received(lobbies[1]),
            (std::vector<std::string>{"status205==" + std::string(kProperties),
                                      "status206==<![CDATA[i=hall]]>"}))
      << "the text from the command's seventh character on, once";
}

TEST(Lobby, TheCashierAddressForTheLanguageWithItsSize) {
  struct Case {
    const char* what;
    Config config;
    const char* language;
    const char* address;  // null: no browser opens
    Rect page;
  };
  const char* a = "http://127.0.0.1:1/a?";
  const char* b = "http://127.0.0.1:1/b?";
  const Rect sized{0, 0, 800, 600};
  const Case cases[] = {
      {"own key first", {{"CashierUrlEN", a}, {"CashierUrl", b}}, "en", a, kDefaultPage},
      {"upper-cased key", {{"CashierUrlDE", a}, {"CashierUrl", b}}, "de", a, kDefaultPage},
      {"then the common one", {{"CashierUrlDE", a}, {"CashierUrl", b}}, "en", b, kDefaultPage},
      {"neither", {{"CashierUrlDE", a}}, "en", nullptr, {}},
      {"no language", {{"CashierUrl", b}}, "", nullptr, {}},
      {"a size", {{"CashierUrl", b}, {"CashierSize", "800,600"}}, "en", b, sized},
      {"empty items", {{"CashierUrl", b}, {"CashierSize", ",800,,600"}}, "en", b, sized},
      {"a zero side", {{"CashierUrl", b}, {"CashierSize", "800,0"}}, "en", b, kDefaultPage},
      {"one number", {{"CashierUrl", b}, {"CashierSize", "800"}}, "en", b, kDefaultPage},
      {"not numbers", {{"CashierUrl", b}, {"CashierSize", "w,h"}}, "en", b, kDefaultPage},
      {"AutoLogin not exactly true",
       {{"CashierUrl", b}, {"AutoLogin", "True"}},
       "en",
       b,
       kDefaultPage},
  };
  for (const Case& c : cases) {
    Lobby l(c.config);
    l.app.settings().set_selected_language(c.language);
    l.command("cashier");
    std::vector<Lobby::Browser> expected;
    if (c.address) expected.push_back({c.address, false, c.page});
    EXPECT_EQ(l.browsers(), expected) << c.what;
  }
}

TEST(Lobby, AutoLoginAddsATicketFromTheRequestServiceToTheCashierAddress) {
  testing::RequestServiceDouble service;
  service.answer({200, "<response><properties name=\"ticket\">T-42</properties></response>", {}});
  Lobby l({{"CashierUrl", "http://127.0.0.1:1/pay?"},
           {"AutoLogin", "true"},
           {"ServerURL", service.address()},
           {"Key", "k"}});
  l.app.settings().set_user_name("Ann Lee&co");
  l.command("cashier");
  EXPECT_EQ(l.browsers(),
            (std::vector<Lobby::Browser>{
                {"http://127.0.0.1:1/pay?ticket=T-42&username=Ann%20Lee%26co&lang_code=en", false,
                 kDefaultPage}}));
  ASSERT_EQ(service.received().size(), 1u);
  EXPECT_NE(service.received()[0].body.find("action = \"transfer\""), std::string::npos);
}

TEST(Lobby, WithoutAConnectionCommandsAreDropped) {
  // Two failed lookups: the player is told; a second one that works drops
  // the command silently; "exit" is never held back.
  Lobby offline({}, {false});
  offline.command("http://127.0.0.1:1/x");
  EXPECT_TRUE(offline.browsers().empty());
  EXPECT_EQ(offline.t.transcript.texts(Kind::message_box, offline.window),
            (std::vector<std::string>{"No Internet Connection!"}));
  EXPECT_EQ(offline.t.ui.window(offline.window)->title, "not found");

  Lobby flaky({}, {false, true});
  flaky.command("http://127.0.0.1:1/x");
  EXPECT_TRUE(flaky.browsers().empty());
  EXPECT_TRUE(flaky.t.transcript.texts(Kind::message_box).empty());
  EXPECT_EQ(flaky.resolver.lookups(), 2) << "none for the exit";
}

TEST(Lobby, WhileAnInstallationRunsRequestsGetThe405ScreenUntilTheLobbyIsActivated) {
  Lobby l;
  // After a language change the installation starts with the common
  // package, which the site does not have: the screen stays open, waiting
  // for the player.
  l.app.settings().set_language_changed(true);
  l.t.dir.write("app-popup/errorMsg.swf", "");
  bool disabled_after_refusal = false;
  l.t.ui.schedule(kNoWindow, 450, [&] { disabled_after_refusal = !l.t.ui.is_enabled(l.window); });
  l.t.ui.schedule(kNoWindow, 500, [&] { l.t.ui.activate(l.window, Activation::plain); });
  l.run(
      "after 100 -> command game_slot\n"
      "after 200 -> command game_poker\n"
      "after 300 -> command lang==de\n"
      "after 400 -> command multi=hall\n"
      "after 420 -> command http://127.0.0.1:1/help\n"
      "after 1000 -> command exit\n");
  EXPECT_EQ(l.count(TransferringForm::kClassName), 1u);
  EXPECT_EQ(l.count(CError::kClassName), 3u) << "a game, a language and a window request";
  EXPECT_EQ(l.count(IndexForm::kClassName), 1u);
  EXPECT_EQ(l.browsers().size(), 1u) << "web pages come before the refusal";
  for (const WindowId error : l.t.ui.windows_of(CError::kClassName)) {
    EXPECT_EQ(l.received(error).at(0), "lang=en");
  }
  EXPECT_EQ(l.app.settings().selected_language(), "en");
  EXPECT_EQ(l.app.settings().game_request(), "game_slot");
  EXPECT_TRUE(disabled_after_refusal);
  EXPECT_EQ(l.t.transcript.time_of(l.window, "enabled"), 500u) << "on the activation";
  const WindowId installation = l.t.ui.windows_of(TransferringForm::kClassName).at(0);
  EXPECT_EQ(l.received(installation), (std::vector<std::string>{"lang=en", "Err=401"}))
      << "the lobby leaves the failure to the installation screen";
}

TEST(Lobby, StatusTimerRelaysProgressAndResultsAndDropsFailures) {
  Lobby l;
  Settings& s = l.app.settings();
  std::vector<Status> after_failures;
  l.t.ui.schedule(kNoWindow, 100, [&] { s.set_status(kStatusProgress, "1,3,Game,en"); });
  l.t.ui.schedule(kNoWindow, 600, [&] { s.set_status(kStatusResult, "game_install==<doc>"); });
  l.t.ui.schedule(kNoWindow, 1100, [&] { s.set_status(kStatusDownloadFailed, "Err=401"); });
  l.t.ui.schedule(kNoWindow, 1550, [&] { after_failures.push_back(s.status()); });
  l.t.ui.schedule(kNoWindow, 1600, [&] { s.set_status(kStatusNoConnectivity, "Err=402"); });
  l.t.ui.schedule(kNoWindow, 2050, [&] { after_failures.push_back(s.status()); });
  l.run("after 2200 -> command exit\n");
  EXPECT_EQ(l.received(l.window),
            (std::vector<std::string>{"status205==" + std::string(kProperties),
                                      "progress=1,3,Game,en", "game_install==<doc>"}));
  EXPECT_EQ(after_failures, (std::vector<Status>{{}, {}}));
}

TEST(Lobby, ALangCallSetsTheLanguageWithoutInstalling) {
  Lobby l;
  l.run("after 100 -> call lang\nafter 200 -> call lang fr extra\nafter 300 -> command exit\n");
  EXPECT_EQ(l.app.settings().selected_language(), "fr");
  EXPECT_TRUE(l.app.settings().language_changed());
  EXPECT_EQ(l.count(TransferringForm::kClassName), 0u);
}

}  // namespace
}  // namespace tarvel
