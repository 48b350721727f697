#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "cleaner/menrik_screen.hpp"
#include "screens/error_screen.hpp"
#include "screens/index_form.hpp"
#include "tests/support/gtk/gtk_desktop.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// An error movie that shows every line it is given and leaves on Enter.
constexpr const char* kEchoMovie = R"(<!DOCTYPE html>
<html><body style="margin:0;background:#234;color:#fff;font:16px sans-serif">
<p id="lines"></p>
<script>
  function addText(text) { document.getElementById("lines").textContent = text; }
  document.addEventListener("keydown", (e) => {
    if (e.key === "Enter") tarvel.fscommand("ok", "");
  });
</script></body></html>)";

struct DesktopTest : ::testing::Test {
  void SetUp() override {
    std::string why;
    if (!testing::start_gtk(&why)) GTEST_FAIL() << why;
    t = std::make_unique<testing::GtkTestApp>();
    t->base.dir.write("Config.xml", "<Config><LoginFormText>Tarvel</LoginFormText></Config>");
    t->app.settings().set_default_language("en");
  }
  std::unique_ptr<testing::GtkTestApp> t;
};

TEST_F(DesktopTest, ErrorScreenPlaysItsPageAndClosesOnItsCommand) {
  t->base.dir.write("app-popup/errorMsg.html", kEchoMovie);
  t->base.dir.write("app-popup/errorMsg.swf", "a Flash movie the page stands in for");
  testing::Picture picture;
  t->give_up_after(testing::kPatienceMs);
  t->every_tick([&] {
    if (!t->saw(Kind::received, "Err=405")) return false;
    const WindowId window = t->ui.main_window();
    picture = testing::screenshot(t->ui, window);
    if (picture.blank()) return false;
    picture = testing::screenshot(t->ui, window, "error_screen_405");
    t->ui.synthesize_key({kKeyEnter, true});
    return true;
  });
  CError::show_modal(t->app, 405);
  EXPECT_FALSE(t->gave_up);
  const auto received = t->transcript.texts(Kind::received, CError::kClassName);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front(), "lang=en");
  EXPECT_TRUE(t->saw(Kind::movie, "plays the page"));
  EXPECT_TRUE(t->saw(Kind::command, "ok"));
  EXPECT_EQ(picture.width, 283);
  EXPECT_EQ(picture.height, 139);
  EXPECT_GT(picture.off_background, 0.001);
}

// A screen that tells its movie when its window comes to the front, as the
// login screen, the update check screen and the lobby do.
class FrontScreen final : public FlashScreen {
 public:
  explicit FrontScreen(App& app) : FlashScreen(app, "Front", OnActivation::escape_to_movie) {}
  std::vector<std::string> commands;

 private:
  ScreenStart start_values() override {
    ScreenStart start;
    start.window = {303, 324};
    start.control = {297, 300};
    start.movie_path = app_path("front.html");
    start.first_text = "lang=en";
    return start;
  }
  void on_command(const std::string& command, const std::string&) override {
    commands.push_back(command);
    if (command == "loaded") bring_back_to_front();
    if (command == "key Escape") destroy_window();
  }
  // Another window takes the front for a moment; this one gets it back.
  void bring_back_to_front() {
    struct Plain : WindowHandler {
    } plain;
    const WindowId other = ui().create_window(plain, "Other");
    ui().show_modeless(other, kNoWindow);
    ui().destroy(other);
    ui().activate(window(), Activation::plain);
  }
};

TEST_F(DesktopTest, TheEscapeSentOnActivationReachesTheMovieAndClosesNothing) {
  t->base.dir.write("front.html", R"(<html><body><script>
  document.addEventListener("keydown", (e) => tarvel.fscommand("key " + e.key, ""));
  addEventListener("load", () => tarvel.fscommand("loaded", ""));
</script></body></html>)");
  FrontScreen screen(t->app);
  t->give_up_after(testing::kPatienceMs);
  EXPECT_TRUE(screen.show_modal_as_main());
  EXPECT_FALSE(t->gave_up);
  // Keys that come before the page has loaded are the page's loss, as in
  // any browser: the Escape of the first activation may or may not be heard.
  ASSERT_FALSE(screen.commands.empty());
  EXPECT_EQ(screen.commands.back(), "key Escape");
  EXPECT_TRUE(t->saw(Kind::key, "27 down reached the movie"));
}

TEST_F(DesktopTest, MenrikPlaysItsPageAndEndsOnItsFirstCommand) {
  t->base.dir.write("app-popup/clearLogin.html", R"(<!DOCTYPE html>
<html><body style="margin:0;background:#fff"><h1 style="color:#a00">Clearing</h1>
<script>
  // Cleared: tell the program, once the page has been drawn.
  requestAnimationFrame(() => requestAnimationFrame(() => tarvel.fscommand("", "")));
</script></body></html>)");
  t->give_up_after(testing::kPatienceMs);
  EXPECT_TRUE(run_menrik(t->ui, t->base.dir.path() + "/"));
  EXPECT_FALSE(t->gave_up);
  EXPECT_TRUE(t->saw(Kind::command, "", CMenrikDlg::kClassName));
  EXPECT_TRUE(t->saw(Kind::window, "destroyed", CMenrikDlg::kClassName));
}

// The player drags the lobby's frame: the movie fills the new client area.
TEST_F(DesktopTest, TheLobbyCanBeResizedAndItsMovieFollowsTheFrame) {
  t->base.dir.write("index.html", R"(<!DOCTYPE html>
<html><body style="margin:0;background:#123;color:#fc6;font:20px sans-serif">
<p id="size"></p><script>
  const show = () => document.getElementById("size").textContent = innerWidth + " x " + innerHeight;
  addEventListener("resize", show);
  show();
</script></body></html>)");
  IndexForm lobby(t->app);
  const WindowId window = lobby.window();
  bool resized = false;
  testing::Picture picture;
  t->give_up_after(testing::kPatienceMs);
  t->every_tick([&] {
    if (!t->saw(Kind::movie, "ready for texts")) return false;
    if (!resized) {
      EXPECT_TRUE(gtk_window_get_resizable(GTK_WINDOW(t->ui.native(window))));
      gtk_window_resize(GTK_WINDOW(t->ui.native(window)), 700, 500);
      resized = true;
      return false;
    }
    if (t->ui.control_rect(window) != Rect{0, 0, 700, 500}) return false;
    picture = testing::screenshot(t->ui, window);
    if (picture.width != 700 || picture.height != 500) return false;
    if (testing::run_in_page(t->ui, window, "innerWidth + 'x' + innerHeight") != "700x500") {
      return false;
    }
    t->ui.destroy(window);
    return true;
  });
  EXPECT_TRUE(lobby.show_modal_as_main());
  EXPECT_FALSE(t->gave_up);
  EXPECT_EQ(picture.width, 700);
  EXPECT_EQ(picture.height, 500);
}

TEST_F(DesktopTest, AScreenWithoutItsMovieStaysBlankUntilClosed) {
  t->every_tick([&] {
    if (!t->saw(Kind::received, "Err=402")) return false;
    t->ui.destroy(t->ui.main_window());
    return true;
  });
  t->give_up_after(testing::kPatienceMs);
  CError::show_modal(t->app, 402);
  EXPECT_FALSE(t->gave_up);
  EXPECT_TRUE(t->saw(Kind::movie, "missing: the screen stays blank"));
}

}  // namespace
}  // namespace tarvel
