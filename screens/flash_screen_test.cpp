#include "screens/flash_screen.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// A screen like the login screen: it sends the movie an Escape key-down
// when its window becomes active, and keeps its template size.
class StandIn final : public FlashScreen {
 public:
  explicit StandIn(App& app, std::string movie = "stand-in.swf")
      : FlashScreen(app, "StandIn", OnActivation::escape_to_movie), movie_(std::move(movie)) {}
  std::vector<std::string> commands;
  std::vector<ParsedRequest> requests;

 private:
  ScreenStart start_values() override {
    ScreenStart start;
    start.movie_path = app_path("app-popup\\" + movie_);
    start.first_text = "hello";
    start.timers = {{1, 200}, {2, 10'000}};
    return start;
  }
  void on_command(const std::string& command, const std::string& argument) override {
    commands.push_back(command + "|" + argument);
    if (command == "exit") destroy_window();
    if (command == "next") hand_over<StandIn>(argument);
  }
  void on_request(const ParsedRequest& request) override { requests.push_back(request); }
  std::string movie_;
};

struct FlashScreenTest : ::testing::Test {
  testing::TestApp t;
  [[nodiscard]] std::vector<std::string> keys() const {
    return t.transcript.texts(Kind::key, "StandIn");
  }
};

TEST_F(FlashScreenTest, RoutesCommandsAndRequestsInNarrowText) {
  t.dir.write("app-popup/stand-in.swf",
              "text hello -> call validate \"u\" \"p&amp;\" en\n"
              "text hello -> command go far\n"
              "after 300 -> command exit\n");
  StandIn screen(t.app);
  EXPECT_TRUE(screen.show_modal_as_main());
  EXPECT_EQ(screen.commands, (std::vector<std::string>{"go|far", "exit|"}));
  ASSERT_EQ(screen.requests.size(), 1u);
  EXPECT_EQ(screen.requests[0], (ParsedRequest{"validate", {"u", "p&amp;", "en"}}));
  const WindowState& w = *t.ui.window(screen.window());
  EXPECT_EQ(w.title, "not found") << "no Config.xml";
  EXPECT_EQ(w.rect, Rect{}) << "a screen without sizes keeps its template's";
  EXPECT_FALSE(w.centred);
  EXPECT_TRUE(w.close_command);
}

TEST_F(FlashScreenTest, PlainActivationSendsOneEscapeToTheMovieAClickNone) {
  t.dir.write("app-popup/stand-in.swf", "after 1000 -> command exit\n");
  StandIn screen(t.app);
  struct Other : WindowHandler {
  } other_handler;
  const WindowId other = t.ui.create_window(other_handler, "Other");
  t.ui.schedule(kNoWindow, 100, [&] { t.ui.show_modeless(other, kNoWindow); });
  t.ui.schedule(kNoWindow, 200, [&] { t.ui.activate(screen.window(), Activation::click); });
  t.ui.schedule(kNoWindow, 300, [&] { t.ui.activate(other, Activation::plain); });
  t.ui.schedule(kNoWindow, 400, [&] { t.ui.activate(screen.window(), Activation::plain); });
  EXPECT_TRUE(screen.show_modal_as_main());
  // Shown (plain): one; clicked: none; activated again by a program: one.
  EXPECT_EQ(keys(), (std::vector<std::string>{"27 down synthesized", "27 down reached the movie",
                                              "27 down synthesized", "27 down reached the movie"}));
  EXPECT_EQ(t.transcript.texts(Kind::command, "StandIn"), (std::vector<std::string>{"exit"}));
}

TEST_F(FlashScreenTest, HandOverRunsTheNextScreenAsTheMainWindowInsideTheHandler) {
  t.dir.write("app-popup/stand-in.swf", "after 100 -> command next second.swf\n");
  t.dir.write("app-popup/second.swf", "after 100 -> command next third.swf\n");
  t.dir.write("app-popup/third.swf", "after 100 -> command exit\n");
  StandIn first(t.app);
  std::vector<WindowId> mains;
  t.ui.schedule(kNoWindow, 150, [&] { mains.push_back(t.ui.main_window()); });
  t.ui.schedule(kNoWindow, 250, [&] { mains.push_back(t.ui.main_window()); });
  EXPECT_TRUE(first.show_modal_as_main());
  const auto screens = t.ui.windows_of("StandIn");
  ASSERT_EQ(screens.size(), 3u);
  EXPECT_EQ(mains, (std::vector<WindowId>{screens[1], screens[2]}));
  EXPECT_EQ(t.loop_clock.now_ms(), 300u);
  std::vector<std::string> returned;
  for (const auto& e : t.transcript.entries()) {
    if (e.text == "modal loop returned") returned.push_back(std::to_string(e.window));
  }
  EXPECT_EQ(returned, (std::vector<std::string>{std::to_string(screens[2]),
                                                std::to_string(screens[1]),
                                                std::to_string(screens[0])}));
}

}  // namespace
}  // namespace tarvel
