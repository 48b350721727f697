// The cache cleaner on the headless user interface, its movie a movie script
// (docs/movie-scripts.md). The transcript goes to standard output.
#include "app/headless_desktop.hpp"
#include "cleaner/menrik_screen.hpp"

int main() {
  using namespace tarvel;
  const std::string directory = start_directory("menrik");
  if (directory.empty()) return 1;
  HeadlessDesktop desktop(directory);
  (void)run_menrik(desktop.ui, directory + "/");
  return 0;
}
