// Installs (or updates) the common package of the application directory given
// as the only argument, the way the installation worker does, and prints the
// status it leaves. For fault tests, which kill it or cap its file size.
//   install_package <application directory> [<largest file in bytes>]
// Exit status 0 when the package is installed and current, 1 when not.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "core/settings_readers.hpp"
#include "tests/support/test_app.hpp"
#include "update/common_package.hpp"

int main(int argc, char** argv) {
  using namespace tarvel;
  if (argc < 2) {
    std::fprintf(stderr, "usage: install_package <application directory> [<max file bytes>]\n");
    return 2;
  }
  if (argc > 2) {
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
  app.settings().set_application_directory(std::string(argv[1]) + "/");
  read_settings_file(app);
  const bool installed = install_common_package(app);
  const Status status = app.settings().take_status();
  std::printf("status %d %s\n", status.code, status.text.c_str());
  return installed ? 0 : 1;
}
