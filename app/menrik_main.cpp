// The cache cleaner on the headless user interface, its movie a movie script
// (docs/movie-scripts.md). The transcript goes to standard output.
#include <cstdio>

#include "cleaner/menrik_screen.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/posix_files.hpp"

int main() {
  using namespace tarvel;
  const std::string directory = current_directory();
  if (directory.empty()) {
    std::fprintf(stderr, "menrik: cannot read the current directory\n");
    return 1;
  }
  PosixFiles files(directory);
  RealLoopClock loop_clock;
  StreamTranscript transcript(stdout);
  ScriptedMovieHost movies(files);
  HeadlessUi ui(loop_clock, movies, transcript);
  (void)run_menrik(ui, directory + "/");
  return 0;
}
