// The launcher on the headless user interface: every screen is a window of
// the headless kernel and every movie a movie script (docs/movie-scripts.md).
// The transcript of the screens goes to standard output.
#include <cstdio>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/startup.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/scripted_movie.hpp"
#include "platform/posix/lock_file_guard.hpp"
#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_files.hpp"
#include "platform/posix/posix_resolver.hpp"
#include "platform/posix/system_clock.hpp"
#include "screens/error_screen.hpp"

namespace {

using namespace tarvel;

// No downloader is linked into this build yet: relocation keeps the server.
bool no_download(App&, const std::string&, const std::string&) { return false; }

// The update check screen takes this place; until then start-up ends here.
void no_first_screen(App&) {}

}  // namespace

int main() {
  const std::string directory = current_directory();
  if (directory.empty()) {
    std::fprintf(stderr, "tarvel: cannot read the current directory\n");
    return 1;
  }
  PosixFiles files(directory);
  RealLoopClock loop_clock;
  StreamTranscript transcript(stdout);
  ScriptedMovieHost movies(files);
  HeadlessUi ui(loop_clock, movies, transcript);
  SystemClock clock;
  PosixResolver resolver;
  PosixEchoSockets echo_sockets;
  LockFileInstanceGuard instance_guard;
  App app(Services{files, ui.message_boxes(), clock, resolver, echo_sockets, ui, instance_guard});
  load_default_language(app);
  const StartupParts parts{CError::show_modal, no_first_screen, no_download};
  (void)run_startup(app, parts);
  return 0;
}
