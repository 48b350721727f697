// The launcher. With a display, every screen is a real window whose movie
// plays in a web view; headless ("--headless", or no display), every screen
// is a window of the headless kernel and every movie a movie script
// (docs/movie-scripts.md), or with "--console" a person at the console. The
// transcript of the screens goes to standard output.
#include <cstdio>

#include "app/desktop.hpp"
#include "app/headless_desktop.hpp"
#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/startup.hpp"
#include "platform/curl/curl_http_get.hpp"
#include "platform/curl/curl_http_post.hpp"
#include "platform/posix/lock_file_guard.hpp"
#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_resolver.hpp"
#include "platform/posix/posix_shell.hpp"
#include "platform/posix/system_clock.hpp"
#include "screens/error_screen.hpp"
#include "screens/update_screen.hpp"
#include "update/download.hpp"

using namespace tarvel;

int main(int argc, char** argv) {
  const std::string directory = start_directory("tarvel");
  if (directory.empty()) return 1;
  const std::unique_ptr<Desktop> desktop = open_desktop(directory, argc, argv, "tarvel");
  if (!desktop) return 2;
  PosixFiles files(directory);
  SystemClock clock;
  PosixResolver resolver;
  PosixEchoSockets echo_sockets;
  CurlHttpGet http_get;
  LockFileInstanceGuard instance_guard;
  CurlHttpPost http_post;
  PosixShell shell(files);
  App app(Services{.files = &files,
                   .message_box = &desktop->message_boxes(),
                   .clock = &clock,
                   .resolver = &resolver,
                   .echo_sockets = &echo_sockets,
                   .http_get = &http_get,
                   .http_post = &http_post,
                   .ui = &desktop->ui(),
                   .instance_guard = &instance_guard,
                   .shell = &shell},
          TARVEL_PROGRAM_PUBLIC_HOST);
  load_default_language(app);
  const StartupParts parts{CError::show_modal, Update::show_modal, download_file};
  (void)run_startup(app, parts);
  // Windows the lobby opened beside itself (cashier, further lobbies) go
  // while the App they work in is still there; workers still waiting for a
  // message box go on: they are joined next.
  desktop->close();
  // Start-up ends at once without a guard: a second copy could not be told
  // apart, and the player has to learn why nothing opened.
  if (!instance_guard.failure().empty()) {
    std::fprintf(stderr, "tarvel: %s\n", instance_guard.failure().c_str());
    return 1;
  }
  return 0;
}
