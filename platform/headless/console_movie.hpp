#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/headless/movie_host.hpp"
#include "platform/headless/transcript.hpp"

namespace tarvel {

class RecordingMovie;

// Movies played by a person at a console: each screen's movie shows what it
// receives (through a ConsoleView) and sends what the person types.
class ConsoleMovieHost final : public MovieHost {
 public:
  [[nodiscard]] std::unique_ptr<MovieControl> create(HeadlessUi& ui, WindowId window,
                                                     MovieEvents& events) override;

  // One line the person typed, run on the loop's thread: an action ("command
  // exit", "call validate demo demo en") for the movie of the active screen,
  // or of the screen opened last when none is active; or "help". Gives what
  // to tell the person, "" when the action was sent.
  [[nodiscard]] std::string type(HeadlessUi& ui, std::string_view line);

  // What "help" prints.
  static const char* help();

 private:
  class Movie;
  friend class Movie;

  std::vector<RecordingMovie*> movies_;  // live ones, the newest last
};

// A transcript shown to a person: a line for each screen that opens or
// closes, each text a movie receives, each command or request it sends,
// message boxes and browser windows, with progress lines drawn as a bar that
// is redrawn on one line. Safe from any thread.
class ConsoleView final : public Transcript {
 public:
  explicit ConsoleView(std::FILE* stream) : stream_(stream) {}
  void add(const TranscriptEntry& entry) override;
  // A line of the program's own (help, a typing mistake).
  void note(const std::string& text);

  // "3,12,common,en" or "progress=3,12,common,en" drawn as a bar, or "" for
  // any other text.
  [[nodiscard]] static std::string progress_bar(std::string_view text);

 private:
  void line(const std::string& text);

  std::mutex mutex_;
  std::FILE* stream_;
  std::size_t bar_length_ = 0;  // characters of the bar on the current line; 0: none
};

}  // namespace tarvel
