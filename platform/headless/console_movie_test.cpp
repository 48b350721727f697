#include "platform/headless/console_movie.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "flash/codec.hpp"
#include "platform/headless/headless_ui.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

TEST(ConsoleView, DrawsProgressLinesAsABar) {
  struct Case {
    const char* text;
    const char* bar;
  };
  const Case cases[] = {
      {"3,12,common,en", "[#######.......................] 3/12 common en"},
      {"progress=12,12,Game,de", "[##############################] 12/12 Game de"},
      {"progress=0,5,asset,en", "[..............................] 0/5 asset en"},
      {"9,5,asset,en", "[##############################] 9/5 asset en"},
      {"lang=en", ""},
      {"Err=401", ""},
      {"3,0,common,en", ""},
      {"3,12", ""},
      {"-1,12,common,en", ""},
      {"progress=a,12,common,en", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ConsoleView::progress_bar(c.text), c.bar) << c.text;
}

TEST(ConsoleView, ShowsAPersonWhatHappensWithTheBarOnOneLine) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    ConsoleView view(stream);
    const auto add = [&](Kind kind, std::string text, std::string argument = "") {
      view.add({0, 1, "TransferringForm", kind, std::move(text), std::move(argument)});
    };
    add(Kind::window, "shown modally");
    add(Kind::window, "moved to 0,0 303x324");
    add(Kind::movie, "load layer 0", "/app/app-popup\\transfer.swf");
    add(Kind::received, "lang=en");
    add(Kind::received, "progress=1,4,common,en");
    add(Kind::received, "progress=2,4,common,en");
    add(Kind::received, "Err=401");
    add(Kind::command, "retry");
    add(Kind::call, build_invoke("validate", {"demo", "pass word"}));
    add(Kind::received, "game_status==<![CDATA[<main><game/>\n<game/>\n</main>]]>");
    view.add({0, kNoWindow, "", Kind::message_box, "No Internet Connection!", "ERROR!!"});
    add(Kind::window, "destroyed");
  }
  std::rewind(stream);
  std::string shown;
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) shown += static_cast<char>(c);
  std::fclose(stream);
  EXPECT_EQ(shown,
            "[TransferringForm] opens\n"
            "[TransferringForm] plays transfer.swf\n"
            "[TransferringForm] <- lang=en\n"
            "\r[TransferringForm] [#######.......................] 1/4 common en"
            "\r[TransferringForm] [###############...............] 2/4 common en\n"
            "[TransferringForm] <- Err=401\n"
            "[TransferringForm] -> command retry\n"
            "[TransferringForm] -> call validate demo pass word\n"
            "[TransferringForm] <- game_status==<![CDATA[<main><game/>\n"
            "    <game/>\n"
            "    </main>]]>\n"
            "[launcher] message box \"ERROR!!\": No Internet Connection!\n"
            "[TransferringForm] closes\n");
}

// A screen that writes down what its movie sends.
struct Screen : WindowHandler, MovieEvents {
  std::vector<std::string> events;
  void on_fs_command(const std::u16string& command, const std::u16string& argument) override {
    events.push_back("command " + narrow(command) + "|" + narrow(argument));
  }
  void on_flash_call(const std::u16string& request) override {
    events.push_back("call " + parse_request(request).name);
  }
};

TEST(ConsoleMovieHost, TypedLinesGoToTheMovieOfTheScreenInFront) {
  TestLoopClock clock;
  RecordingTranscript transcript;
  ConsoleMovieHost host;
  HeadlessUi ui(clock, host, transcript);
  EXPECT_EQ(host.type(ui, "command exit"), "no screen is open to send that");

  Screen back;
  Screen front;
  const WindowId back_window = ui.create_window(back, "Back");
  auto back_movie = ui.create_movie_control(back_window, back);
  ui.show_modeless(back_window, kNoWindow);
  const WindowId front_window = ui.create_window(front, "Front");
  auto front_movie = ui.create_movie_control(front_window, front);
  ui.show_modeless(front_window, kNoWindow);

  EXPECT_EQ(host.type(ui, "  call validate demo demo en \r"), "");
  EXPECT_EQ(host.type(ui, ""), "");
  EXPECT_EQ(host.type(ui, "shout"),
            "\"shout\": an action is command or call with a name (type help)");
  EXPECT_EQ(host.type(ui, "help"), ConsoleMovieHost::help());
  ui.activate(back_window, Activation::click);
  EXPECT_EQ(host.type(ui, "command exit \"right now\""), "");
  EXPECT_EQ(front.events, (std::vector<std::string>{"call validate"}));
  EXPECT_EQ(back.events, (std::vector<std::string>{"command exit|right now"}));

  // Lines go to screens whose windows are still there.
  ui.destroy(back_window);
  EXPECT_EQ(host.type(ui, "command again"), "");
  EXPECT_EQ(front.events.back(), "command again|");
  ui.destroy(front_window);
  EXPECT_EQ(host.type(ui, "command late"), "no screen is open to send that");
  front_movie.reset();
  EXPECT_EQ(transcript.texts(Kind::command), (std::vector<std::string>{"exit", "again"}));
}

}  // namespace
}  // namespace tarvel
