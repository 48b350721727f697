// The launcher. With a display, every screen is a real window whose movie
// plays in a web view; headless ("--headless", or no display), every screen
// is a window of the headless kernel and every movie a movie script
// (docs/movie-scripts.md), or with "--console" a person at the console. The
// transcript of the screens goes to standard output, a line for each failure
// to standard error, and the support log to the user's state folder.
#include <csignal>
#include <cstdio>
#include <exception>

#include "app/desktop.hpp"
#include "app/headless_desktop.hpp"
#include "app/installed_tree_command.hpp"
#include "app/program_arguments.hpp"
#include "app/support_report.hpp"
#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/startup.hpp"
#include "platform/curl/curl_http_get.hpp"
#include "platform/curl/curl_http_post.hpp"
#include "platform/curl/system_proxy.hpp"
#include "platform/posix/lock_file_guard.hpp"
#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_log_file.hpp"
#include "platform/posix/posix_resolver.hpp"
#include "platform/posix/posix_shell.hpp"
#include "platform/posix/system_clock.hpp"
#include "screens/error_screen.hpp"
#include "screens/update_screen.hpp"
#include "tarvel_version.hpp"
#include "update/download.hpp"
#include "update/install_journal.hpp"

using namespace tarvel;

namespace {

using Action = ProgramArguments::Action;

constexpr const char* kProgram = TARVEL_PROGRAM_NAME;

// The tree commands and the report work on the files of a client: a folder
// without the launcher's settings is none.
bool is_application_directory(App& app) {
  if (app.files().read(kSettingsFileName)) return true;
  std::fprintf(stderr,
               "%s: %s is not an application directory (it has no %s): run this in the folder "
               "the launcher runs in\n",
               kProgram, app.files().working_directory().c_str(), kSettingsFileName);
  return false;
}

int tree_command(App& app, Action action, const std::string& log_path) {
  apply_defaults(app.settings());
  read_settings_file(app);
  app.settings().set_application_directory(app.files().working_directory() + "/");
  if (!is_application_directory(app)) return 1;
  // The tree is checked (and mended) as the last install left it once finished.
  if (action == Action::verify || action == Action::repair) (void)finish_interrupted_commits(app);
  switch (action) {
    case Action::verify:
      return verify_command(app);
    case Action::repair:
      return repair_command(app);
    default:
      return report_command(app, log_path);
  }
}

// The support log of this application directory; a folder that takes no
// log costs the player nothing but this line.
std::unique_ptr<PosixLogFile> open_support_log(const std::string& directory) {
  const std::string path = support_log_path(directory);
  if (path.empty()) {
    std::fprintf(stderr, "%s: no support log: neither XDG_STATE_HOME nor HOME is set\n", kProgram);
    return nullptr;
  }
  auto file = std::make_unique<PosixLogFile>(path, kProgram);
  if (!file->is_open()) {
    std::fprintf(stderr, "%s: no support log: %s\n", kProgram, file->error().c_str());
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  const ProgramArguments arguments = read_program_arguments(argc, argv, ProgramKind::launcher);
  const std::string note = std::string("It counts itself online when ") +
                           TARVEL_PROGRAM_PUBLIC_HOST + " resolves.";
  if (const int status = answer_arguments(arguments, kProgram, ProgramKind::launcher, note);
      status >= 0) {
    return status;
  }
  // A file-size limit fails the write in hand (and says so) instead of
  // killing the launcher in the middle of an installation.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::string directory = start_directory(kProgram);
  if (directory.empty()) return 1;
  const bool tree = arguments.action != Action::run;
  // The tree commands show no screen: the headless kernel stands in, unused.
  const std::unique_ptr<Desktop> desktop =
      tree ? std::make_unique<HeadlessDesktop>(directory)
           : open_desktop(directory, arguments.headless, arguments.console);
  const std::unique_ptr<PosixLogFile> log_file = open_support_log(directory);
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
                   .shell = &shell,
                   .log_file = log_file && log_file->is_open() ? log_file.get() : nullptr},
          TARVEL_PROGRAM_PUBLIC_HOST);
  app.log().note(std::string(kProgram) + " " + kTarvelVersion + " started, " +
                 (tree ? "for " + std::string(argv[1]) : desktop->kind()));
  if (tree) return tree_command(app, arguments.action, log_file ? log_file->path() : "");
  load_default_language(app);
  const StartupParts parts{CError::show_modal, Update::show_modal, download_file,
                           [](const std::string& address) {
                             return without_credentials(system_proxy_for(address));
                           }};
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
    app.log().cause(instance_guard.failure());
    return 1;
  }
  app.log().note(std::string(kProgram) + " ended");
  return 0;
}
