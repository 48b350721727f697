// The cache cleaner on the headless user interface, its movie a movie script
// (docs/movie-scripts.md) or, with --console, a person at the console. The
// transcript goes to standard output.
#include "app/headless_desktop.hpp"
#include "cleaner/menrik_screen.hpp"

int main(int argc, char** argv) {
  using namespace tarvel;
  const auto mode = movie_mode(argc, argv, "menrik");
  if (!mode) return 2;
  const std::string directory = start_directory("menrik");
  if (directory.empty()) return 1;
  HeadlessDesktop desktop(directory, *mode);
  (void)run_menrik(desktop.ui, directory + "/");
  return 0;
}
