// The cache cleaner. With a display, in a real window whose movie plays in a
// web view; headless ("--headless", or no display), its movie is a movie
// script (docs/movie-scripts.md), and with "--console" a person at the
// console. The transcript goes to standard output, the support log to the
// user's state folder.
#include <cstdio>

#include "app/desktop.hpp"
#include "app/headless_desktop.hpp"
#include "app/program_arguments.hpp"
#include "cleaner/menrik_screen.hpp"
#include "core/support_log.hpp"
#include "platform/posix/posix_log_file.hpp"
#include "tarvel_version.hpp"

int main(int argc, char** argv) {
  using namespace tarvel;
  constexpr const char* kProgram = "menrik";
  const ProgramArguments arguments = read_program_arguments(argc, argv, ProgramKind::cleaner);
  if (const int status = answer_arguments(arguments, kProgram, ProgramKind::cleaner); status >= 0)
    return status;
  const std::string directory = start_directory(kProgram);
  if (directory.empty()) return 1;
  const std::string log_path = support_log_path(directory);
  PosixLogFile log_file(log_path, kProgram);
  if (log_path.empty() || !log_file.is_open()) {
    std::fprintf(stderr, "%s: no support log: %s\n", kProgram,
                 log_path.empty() ? "neither XDG_STATE_HOME nor HOME is set"
                                  : log_file.error().c_str());
  }
  SupportLog log(kProgram, log_file.is_open() ? &log_file : nullptr);
  const std::unique_ptr<Desktop> desktop =
      open_desktop(directory, arguments.headless, arguments.console);
  log.note(std::string(kProgram) + " " + kTarvelVersion + " started in " + directory + ", " +
           desktop->kind());
  (void)run_menrik(desktop->ui(), directory + "/");
  desktop->close();
  log.note(std::string(kProgram) + " ended");
  return 0;
}
