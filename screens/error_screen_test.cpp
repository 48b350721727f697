#include "screens/error_screen.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

constexpr const char* kConfig =
    "<Config><IconImage>app-popup\\icon.ico</IconImage>"
    "<LoginFormText>Tarvel Casino</LoginFormText></Config>";

struct ErrorScreenTest : ::testing::Test {
  testing::TestApp t;

  void SetUp() override {
    t.dir.write("Config.xml", kConfig);
    t.app.settings().set_default_language("en");
  }
  void movie(const std::string& script) { t.dir.write("app-popup/errorMsg.swf", script); }
  [[nodiscard]] std::vector<std::string> received() const {
    return t.transcript.texts(Kind::received, CError::kClassName);
  }
  // When each text arrived, for the ticks.
  [[nodiscard]] std::vector<std::uint64_t> times_of(const std::string& text) const {
    std::vector<std::uint64_t> times;
    for (const auto& e : t.transcript.entries()) {
      if (e.kind == Kind::received && e.text == text) times.push_back(e.time_ms);
    }
    return times;
  }
};

TEST_F(ErrorScreenTest, ModalScreenStartsAsItsValuesSay) {
  movie("text Err=402 -> command ok\n");
  CError::show_modal(t.app, 402);
  const auto windows = t.ui.windows_of(CError::kClassName);
  ASSERT_EQ(windows.size(), 1u);
  const WindowState& w = *t.ui.window(windows[0]);
  EXPECT_FALSE(w.alive);
  EXPECT_TRUE(w.modal);
  EXPECT_EQ(w.title, "Tarvel Casino");
  EXPECT_EQ(w.icon, "app-popup\\icon.ico");
  EXPECT_EQ(w.rect, (Rect{(1920 - 287) / 2, (1080 - 167) / 2, 287, 167}));
  EXPECT_EQ(w.control, (Rect{0, 0, 283, 139}));
  EXPECT_FALSE(w.close_command);
  const auto loads = t.transcript.entries();
  const auto load = std::find_if(loads.begin(), loads.end(), [](const TranscriptEntry& e) {
    return e.kind == Kind::movie && e.text == "load layer 0";
  });
  ASSERT_NE(load, loads.end());
  EXPECT_EQ(load->argument, t.dir.path() + "/app-popup\\errorMsg.swf");
  EXPECT_EQ(received(), (std::vector<std::string>{"lang=en", "Err=402"}));
}

TEST_F(ErrorScreenTest, RepeatsItsCodeEveryTickUntilAnEmptyCommandReenablesTheOwner) {
  // A stand-in for the lobby: the main window, disabled while the error shows.
  struct Lobby : WindowHandler {
  } lobby_handler;
  const WindowId lobby = t.ui.create_window(lobby_handler, "Lobby");
  t.ui.set_main_window(lobby);
  t.ui.show_modeless(lobby, kNoWindow);
  movie("after 1050 -> command \"\"\n");

  t.ui.enable(lobby, false);
  const WindowId error = CError::show_modeless(t.app, kErrorInstallationBusy);
  EXPECT_EQ(t.ui.window(error)->owner, lobby);
  ASSERT_TRUE(t.ui.run_until([&] { return !t.ui.exists(error); }));

  EXPECT_EQ(times_of("Err=405"),
            (std::vector<std::uint64_t>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
  EXPECT_TRUE(t.ui.is_enabled(lobby));
  EXPECT_EQ(t.ui.active_window(), lobby);
  EXPECT_EQ(t.transcript.texts(Kind::command, CError::kClassName), (std::vector<std::string>{""}));
}

TEST_F(ErrorScreenTest, NeitherKeysNorTheCloseKeystrokeCloseIt) {
  movie("after 2000 -> command exit\n");
  CError screen(t.app, kErrorSecondInstance);
  bool open_after_keys = false;
  t.ui.schedule(kNoWindow, 500, [&] {
    for (const int key : {kKeyEscape, kKeyEnter, kKeyCancel}) t.ui.synthesize_key({key, true});
    t.ui.press_close(screen.window());
  });
  t.ui.schedule(kNoWindow, 1000, [&] { open_after_keys = screen.window_exists(); });
  EXPECT_TRUE(screen.show_modal_as_main());
  EXPECT_TRUE(open_after_keys);
  EXPECT_EQ(t.loop_clock.now_ms(), 2000u);
  const auto keys = t.transcript.texts(Kind::key, CError::kClassName);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "27 down reached the movie"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "13 down reached the movie"), 1);
}

TEST_F(ErrorScreenTest, FirstTextCarriesTheSelectedLanguageOnceThereIsOne) {
  movie("prefix lang= -> command ok\n");
  CError::show_modal(t.app, 402);
  t.app.settings().set_selected_language("de");
  CError::show_modal(t.app, 402);
  EXPECT_EQ(received(), (std::vector<std::string>{"lang=en", "lang=de"}));
}

TEST_F(ErrorScreenTest, CodeZeroSendsOnlyTheLanguage) {
  movie("after 350 -> command ok\n");
  CError::show_modal(t.app, 0);
  EXPECT_EQ(received(), (std::vector<std::string>{"lang=en"}));
}

TEST_F(ErrorScreenTest, WithoutItsMovieItStaysOpen) {
  t.loop_clock.set_limit_ms(5000);
  CError screen(t.app, kStatusNoConnectivity);
  EXPECT_FALSE(screen.show_modal_as_main());
  EXPECT_TRUE(screen.window_exists());
  EXPECT_EQ(times_of("Err=402").size(), 50u);
}

}  // namespace
}  // namespace tarvel
