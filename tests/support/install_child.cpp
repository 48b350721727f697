// A launcher that only installs one manifest's files into a folder, for
// tests that kill an install on its way: it runs in a process of its own.
//   tarvel_install_child <application directory> <manifest path> <address base>
#include <string>

#include "tests/support/test_app.hpp"
#include "update/manifest.hpp"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  tarvel::testing::TestApp t;
  const std::string directory = std::string(argv[1]) + "/";
  t.app.settings().set_application_directory(directory);
  tarvel::EntryList entries;
  return tarvel::install_full_manifest(t.app, entries, argv[2], directory, argv[3]) ? 0 : 1;
}
