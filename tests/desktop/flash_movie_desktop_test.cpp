#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/gtk/gtk_desktop.hpp"
#include "tests/support/gtk/movie_screen.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

struct FlashMovieTest : ::testing::Test {
  void SetUp() override {
    std::string why;
    if (!testing::start_gtk(&why)) GTEST_FAIL() << why;
    if (testing::ruffle_directory().empty()) GTEST_FAIL() << "this build has no Flash player";
    t = std::make_unique<testing::GtkTestApp>();
  }
  std::unique_ptr<testing::GtkTestApp> t;
};

TEST_F(FlashMovieTest, SwfMoviePlaysAndItsCommandsAndCallsReachTheScreen) {
  const std::string movie = testing::built_test_movies_directory() + "echo.swf";
  ASSERT_TRUE(std::filesystem::exists(movie)) << movie;
  std::filesystem::create_directories(t->base.dir / "app-popup");
  std::filesystem::copy_file(movie, t->base.dir / "app-popup/echo.swf");
  testing::MovieScreen screen(
      t->ui, t->base.dir.path() + "/app-popup\\echo.swf",
      {.control = {0, 0, 283, 139}, .lines = {"lang=en"}, .close_on_command = false});
  testing::Picture picture;
  t->give_up_after(testing::kPatienceMs);
  t->every_tick([&] {
    if (screen.requests.empty() || !t->ui.exists(screen.window())) return false;
    picture = testing::screenshot(t->ui, screen.window());
    if (picture.blank()) return false;
    picture = testing::screenshot(t->ui, screen.window(), "flash_movie");
    screen.destroy_window();
    return true;
  });
  t->ui.set_main_window(screen.window());
  (void)t->ui.run_modal(screen.window());

  EXPECT_FALSE(t->gave_up);
  EXPECT_TRUE(t->saw(Kind::movie, "plays the Flash movie"));
  using Command = std::pair<std::string, std::string>;
  ASSERT_GE(screen.commands.size(), 2u);
  EXPECT_EQ(screen.commands[0], (Command{"started", ""}));
  EXPECT_EQ(screen.commands[1], (Command{"got", "lang=en"}));
  ASSERT_EQ(screen.requests.size(), 1u);
  EXPECT_EQ(screen.requests[0], (ParsedRequest{"validate", {"player one", "lang=en"}}));
  EXPECT_EQ(picture.width, 283);
  EXPECT_EQ(picture.height, 139);
  EXPECT_GT(picture.off_background, 0.1);
}

}  // namespace
}  // namespace tarvel
