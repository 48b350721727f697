// The sample HTML5 movies, played as a player would see and use them.
#include <gtest/gtest.h>

#include "tests/support/gtk/gtk_desktop.hpp"
#include "tests/support/gtk/movie_screen.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

struct Sample {
  std::string name;   // also the screenshot's name
  std::string movie;  // inside the application directory
  Rect control;
  std::vector<std::string> lines;
  std::vector<std::string> shown;  // words the page must show
  std::string action;              // what the player does on the page (a script)
  std::string sent;                // what that makes the movie send
  std::vector<std::string> absent = {};  // words the page must not show
};

// Test names in listings: the sample's name rather than its bytes.
void PrintTo(const Sample& sample, std::ostream* out) { *out << sample.name; }

const std::string kGames =
    "game_status==<![CDATA[<main><game type=\"slot\" version=\"uptodate\"></game>\n"
    "<game type=\"poker\" version=\"install\"></game>\n<lang install=\"en\"></lang>\n"
    "<lang install=\"de\"></lang>\n</main>]]>";

const Sample kSamples[] = {
    {"sample_error_de",
     "app-popup\\errorMsg.swf",
     {0, 0, 283, 139},
     {"lang=de", "Err=405"},
     {"Bitte warten, bis die laufende Installation fertig ist."},
     "document.getElementById('ok').click()",
     "ok"},
    {"sample_error_en",
     "app-popup\\errorMsg.swf",
     {0, 0, 283, 139},
     {"lang=en", "Err=406"},
     {"The launcher is already running."},
     "document.getElementById('ok').click()",
     "ok"},
    {"sample_login",
     "app-popup\\login.swf",
     {0, 0, 297, 300},
     {"lang=en", "Err=404"},
     {"Wrong user name or password.", "User name"},
     "document.getElementById('user').value = 'player one';"
     "document.getElementById('password').value = 'secret';"
     "document.getElementById('login').click()",
     "validate(player one,secret,en)"},
    {"sample_update",
     "app-popup\\checkUpdate.swf",
     {0, 0, 283, 139},
     {"lang=de", "3,10,common,de", "Err=402"},
     {"Suche nach Aktualisierungen", "3 / 10", "Keine Internetverbindung."},
     "document.getElementById('retry').click()",
     "retry"},
    {"sample_installation",
     "app-popup\\transfer.swf",
     {0, 0, 297, 300},
     {"lang=en", "progress=5,10,Game,en"},
     {"Installing games", "5 / 10"},
     "document.getElementById('exit').click()",
     "exit"},
    {"sample_lobby",
     "index.swf",
     {0, 0, 1000, 690},
     {"status205==<login/>", "lang=en", kGames},
     {"slot", "poker", "not installed", "ready"},
     "document.querySelectorAll('#games button')[1].click()",
     "rnggame_poker"},
    {"sample_lobby_window",
     "index.swf",
     {0, 0, 1000, 690},
     {"status205==<login/>", "lang=de", "status206==<![CDATA[hall]]>"},
     {"Fenster: hall", "Kasse"},
     "document.getElementById('exit').click()",
     "exit",
     {"Spieleliste"}},
    {"sample_cleaner",
     "app-popup\\clearLogin.swf",
     {0, 0, 245, 158},
     {},
     {"The saved login is cleared."},
     "document.getElementById('close').click()",
     "done"},
};

struct SampleMovieTest : ::testing::TestWithParam<Sample> {
  void SetUp() override {
    std::string why;
    if (!testing::start_gtk(&why)) GTEST_FAIL() << why;
    t = std::make_unique<testing::GtkTestApp>();
    testing::copy_tree(testing::sample_movies_directory(), t->base.dir.path());
  }
  std::unique_ptr<testing::GtkTestApp> t;
};

TEST_P(SampleMovieTest, ShowsItsLinesAndSendsWhatThePlayerChooses) {
  const Sample& sample = GetParam();
  testing::MovieScreen screen(
      t->ui, t->base.dir.path() + "/" + sample.movie,
      {.control = sample.control, .lines = sample.lines, .close_on_command = false});
  t->ui.show_modeless(screen.window(), kNoWindow);
  const auto shows_all = [&](const std::string& text) {
    for (const std::string& word : sample.shown) {
      if (text.find(word) == std::string::npos) return false;
    }
    for (const std::string& word : sample.absent) {
      if (text.find(word) != std::string::npos) return false;
    }
    return true;
  };
  std::string text;
  EXPECT_TRUE(t->wait_until([&] {
    if (!t->saw(Kind::movie, "ready for texts")) return false;
    text = testing::run_in_page(t->ui, screen.window(), "document.body.innerText");
    return shows_all(text) && !testing::screenshot(t->ui, screen.window()).blank();
  })) << text;
  const testing::Picture picture = testing::settled_screenshot(t->ui, screen.window(), sample.name);
  EXPECT_EQ(picture.width, sample.control.width);
  EXPECT_EQ(picture.height, sample.control.height);
  EXPECT_GT(picture.colours, 16);  // words and buttons, not a plain fill

  (void)testing::run_in_page(t->ui, screen.window(), sample.action);
  EXPECT_TRUE(t->wait_until([&] { return !screen.sent.empty(); }));
  EXPECT_EQ(screen.sent, (std::vector<std::string>{sample.sent}));
}

INSTANTIATE_TEST_SUITE_P(Movies, SampleMovieTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tarvel
