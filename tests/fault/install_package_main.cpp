// Installs (or updates) the common package of the application directory given
// as the only argument, the way the installation worker does, and prints the
// status it leaves. For fault tests, which kill it or cap its file size.
//   install_package <application directory> [<largest file in bytes>]
// Exit status 0 when the package is installed and current, 1 when not.
//   install_package <application directory> start
// Runs the launcher's start-up instead, without its screens: what a crash
// left undone is finished there.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <string_view>

#include "core/settings_readers.hpp"
#include "core/startup.hpp"
#include "tests/support/test_app.hpp"
#include "update/common_package.hpp"
#include "update/download.hpp"
#include "update/install_journal.hpp"

int main(int argc, char** argv) {
  using namespace tarvel;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: install_package <application directory> [<max file bytes> | start]\n");
    return 2;
  }
  const bool start = argc > 2 && std::string_view(argv[2]) == "start";
  if (argc > 2 && !start) {
    // A file-size cap stands for a full disk: writes beyond it fail with
    // EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[2], nullptr, 10)};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) return 2;
  }
  testing::TestApp services;
  PosixFiles files(argv[1]);
  // The loopback resolver knows "localhost" only: the connectivity probe passes.
  App app(services.services_with([&](Services& s) { s.files = &files; }), "localhost");
  if (start) {
    const StartupParts parts{.error_screen = [](App&, int) {},
                             .first_screen = [](App&) {},
                             .download = download_file,
                             .finish_installs = finish_interrupted_commits};
    (void)run_startup(app, parts);
    return 0;
  }
  app.settings().set_application_directory(std::string(argv[1]) + "/");
  read_settings_file(app);
  const bool installed = install_common_package(app);
  const Status status = app.settings().take_status();
  std::printf("status %d %s\n", status.code, status.text.c_str());
  return installed ? 0 : 1;
}
