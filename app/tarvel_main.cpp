// The launcher. With a display, every screen is a real window whose movie
// plays in a web view; headless ("--headless", or no display), every screen
// is a window of the headless kernel and every movie a movie script
// (docs/movie-scripts.md), or with "--console" a person at the console. The
// transcript of the screens goes to standard output.
#include <cstdio>
#include <exception>

#include "app/desktop.hpp"
#include "app/headless_desktop.hpp"
#include "app/installed_tree_command.hpp"
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
#include "update/install_journal.hpp"

using namespace tarvel;

namespace {

enum class TreeCommand { none, verify, repair };

// "--verify" or "--repair" as the one argument.
TreeCommand tree_command(int argc, char** argv) {
  if (argc != 2) return TreeCommand::none;
  const std::string_view argument = argv[1];
  if (argument == "--verify") return TreeCommand::verify;
  if (argument == "--repair") return TreeCommand::repair;
  return TreeCommand::none;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string directory = start_directory("tarvel");
  if (directory.empty()) return 1;
  const TreeCommand command = tree_command(argc, argv);
  // The tree commands show no screen: the headless kernel stands in, unused.
  const std::unique_ptr<Desktop> desktop = command == TreeCommand::none
                                               ? open_desktop(directory, argc, argv, "tarvel")
                                               : std::make_unique<HeadlessDesktop>(directory);
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
  if (command != TreeCommand::none) {
    apply_defaults(app.settings());
    read_settings_file(app);
    app.settings().set_application_directory(directory + "/");
    // The tree is checked as the last install left it once finished.
    (void)finish_interrupted_commits(app);
    return command == TreeCommand::verify ? verify_command(app) : repair_command(app);
  }
  load_default_language(app);
  const StartupParts parts{CError::show_modal, Update::show_modal, download_file,
                           finish_interrupted_commits};
  try {
    (void)run_startup(app, parts);
  } catch (const std::exception& e) {
    // A fault of the launcher's own: said, and the program ends in order.
    std::fprintf(stderr, "tarvel: stopped: %s\n", e.what());
    desktop->close();
    return 1;
  }
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
