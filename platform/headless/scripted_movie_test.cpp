#include "platform/headless/scripted_movie.hpp"

#include <gtest/gtest.h>

#include "flash/codec.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

// A screen that only writes down what its movie sends, with the time.
struct Screen : WindowHandler, MovieEvents {
  std::vector<std::string> events;
  std::function<void()> on_event;
  const LoopClock* clock = nullptr;

  void on_fs_command(const std::u16string& command, const std::u16string& arguments) override {
    events.push_back(std::to_string(clock->now_ms()) + " command " + narrow(command) + "|" +
                     narrow(arguments));
    if (on_event) on_event();
  }
  void on_flash_call(const std::u16string& request) override {
    events.push_back(std::to_string(clock->now_ms()) + " call " + narrow(request));
    if (on_event) on_event();
  }
};

struct Stage {
  testing::TempDir dir;
  PosixFiles files{dir.path()};
  TestLoopClock clock;
  RecordingTranscript transcript;
  ScriptedMovieHost host{files};
  HeadlessUi ui{clock, host, transcript};
  Screen screen;
  WindowId window = ui.create_window(screen, "Screen");
  std::unique_ptr<MovieControl> movie = ui.create_movie_control(window, screen);

  Stage() {
    screen.clock = &clock;
    ui.show_modeless(window, kNoWindow);
  }
  void load(const std::string& script) {
    dir.write("movies/test.swf", script);
    movie->load_movie(0, widen(dir.path() + "\\movies\\test.swf"));
    movie->play();
  }
  void say(const std::string& text) { movie->call_function(build_add_text_call(text)); }
  void run_for(std::uint64_t ms) {
    const std::uint64_t until = clock.now_ms() + ms;
    ui.schedule(kNoWindow, ms, [] {});
    ASSERT_TRUE(ui.run_until([&] { return clock.now_ms() >= until; }));
  }
};

TEST(ScriptedMovie, AnswersReceivedTextsThroughTheQueue) {
  Stage s;
  s.load(
      "text Err=405 -> command closing now\n"
      "prefix lang= -> call validate u p en\n"
      "text Err=405 #2 -> command second\n");
  s.say("lang=de");
  s.say("Err=405");
  s.say("Err=4051");
  EXPECT_TRUE(s.screen.events.empty()) << "nothing arrives inside the call itself";
  s.say("Err=405");
  s.run_for(1);
  EXPECT_EQ(s.screen.events,
            (std::vector<std::string>{
                "0 call <invoke name=\"validate\" returntype=\"xml\"><arguments><string>u</string>"
                "<string>p</string><string>en</string></arguments></invoke>",
                "0 command closing|now", "0 command closing|now", "0 command second|"}));
  EXPECT_EQ(s.transcript.texts(Kind::received),
            (std::vector<std::string>{"lang=de", "Err=405", "Err=4051", "Err=405"}));
}

TEST(ScriptedMovie, TimedRulesCountFromTheLoadAndStopWithTheWindow) {
  Stage s;
  s.run_for(100);
  s.load("after 250 -> command first\nafter 500 -> command second\n");
  s.screen.on_event = [&] { s.ui.destroy(s.window); };
  s.run_for(1000);
  EXPECT_EQ(s.screen.events, (std::vector<std::string>{"350 command first|"}));
}

// A delay past the end of the clock's range never comes; it must not wrap
// round to "now".
TEST(ScriptedMovie, DelaysBeyondTheClocksRangeNeverFire) {
  Stage s;
  s.run_for(100);
  s.load(
      "after 18446744073709551615 -> command never\nafter 18446744073709551516 -> command "
      "wraps\nafter 50 -> command soon\n");
  s.run_for(1000);
  EXPECT_EQ(s.screen.events, (std::vector<std::string>{"150 command soon|"}));
}

TEST(ScriptedMovie, MissingMoviePlaysNothing) {
  Stage s;
  s.movie->load_movie(0, widen(s.dir.path() + "\\app-popup\\none.swf"));
  s.say("Err=405");
  s.run_for(10);
  EXPECT_TRUE(s.screen.events.empty());
  const auto notes = s.transcript.texts(Kind::movie);
  EXPECT_NE(std::find(notes.begin(), notes.end(), "missing: the screen stays blank"), notes.end());
}

TEST(ScriptedMovie, BadScriptLinesAreNotedAndTheRestPlays) {
  Stage s;
  s.load("text a -> shout\nafter 5 -> command ok\n");
  s.run_for(10);
  EXPECT_EQ(s.screen.events, (std::vector<std::string>{"5 command ok|"}));
  const auto notes = s.transcript.texts(Kind::movie);
  EXPECT_NE(std::find(notes.begin(), notes.end(),
                      "script line 1: an action is command or call with a name (ignored)"),
            notes.end());
}

}  // namespace
}  // namespace tarvel
