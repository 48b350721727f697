#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/desktop.hpp"
#include "platform/headless/console_movie.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/console_input.hpp"
#include "platform/posix/posix_files.hpp"

namespace tarvel {

// How a headless program's movies are played: by the movie scripts in the
// application directory, or by a person typing at the console.
enum class MovieMode { scripted, console };

// What a headless program's screens run on: files rooted at the directory the
// program was started in and the real clock. Scripted movies write the whole
// transcript to standard output; console movies show a person what each
// screen's movie receives and send what the person types.
struct HeadlessDesktop final : Desktop {
  explicit HeadlessDesktop(const std::string& directory, MovieMode movie_mode = MovieMode::scripted)
      : files(directory),
        mode(movie_mode),
        headless_ui(loop_clock,
                    mode == MovieMode::console ? static_cast<MovieHost&>(typed) : scripted,
                    mode == MovieMode::console ? static_cast<Transcript&>(console) : stream) {
    if (mode == MovieMode::console) start_console();
  }
  [[nodiscard]] Ui& ui() override { return headless_ui; }
  [[nodiscard]] MessageBox& message_boxes() override { return headless_ui.message_boxes(); }
  void close() override { headless_ui.close_kept_screens(); }
  [[nodiscard]] std::string kind() const override {
    return mode == MovieMode::console ? "headless, movies played at the console"
                                      : "headless, movie scripts";
  }

  PosixFiles files;
  MovieMode mode;
  RealLoopClock loop_clock;
  StreamTranscript stream{stdout};
  ConsoleView console{stdout};
  ScriptedMovieHost scripted{files};
  ConsoleMovieHost typed;
  HeadlessUi headless_ui;
  // Last, so it stops before anything it posts to goes.
  std::unique_ptr<ConsoleInput> input;

 private:
  // Typed lines go to the loop's thread, where the screens live.
  void start_console() {
    console.note(ConsoleMovieHost::help());
    input = std::make_unique<ConsoleInput>(
        0,
        [this](const std::string& line) {
          headless_ui.post(kNoWindow, [this, line] {
            const std::string reply = typed.type(headless_ui, line);
            if (!reply.empty()) console.note(reply);
          });
        },
        [this] {
          headless_ui.post(kNoWindow, [this] {
            console.note("(the input has ended: the screens go on; Ctrl+C ends the program)");
          });
        });
  }
};

// The directory the program was started in, or "" after saying on standard
// error that it cannot be read.
inline std::string start_directory(const char* program) {
  std::string directory = current_directory();
  if (directory.empty()) std::fprintf(stderr, "%s: cannot read the current directory\n", program);
  return directory;
}

}  // namespace tarvel
