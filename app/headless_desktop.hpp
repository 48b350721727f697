#pragma once

#include <cstdio>
#include <string>

#include "app/desktop.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/posix_files.hpp"

namespace tarvel {

// What a headless program's screens run on: files rooted at the directory the
// program was started in, the real clock, movie scripts for movies, and the
// transcript on standard output.
struct HeadlessDesktop final : Desktop {
  explicit HeadlessDesktop(const std::string& directory) : files(directory) {}
  [[nodiscard]] Ui& ui() override { return headless_ui; }
  [[nodiscard]] MessageBox& message_boxes() override { return headless_ui.message_boxes(); }
  void close() override { headless_ui.close_kept_screens(); }

  PosixFiles files;
  RealLoopClock loop_clock;
  StreamTranscript transcript{stdout};
  ScriptedMovieHost movies{files};
  HeadlessUi headless_ui{loop_clock, movies, transcript};
};

// The directory the program was started in, or "" after saying on standard
// error that it cannot be read.
inline std::string start_directory(const char* program) {
  std::string directory = current_directory();
  if (directory.empty()) std::fprintf(stderr, "%s: cannot read the current directory\n", program);
  return directory;
}

}  // namespace tarvel
