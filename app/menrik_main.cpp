// The cache cleaner. With a display, in a real window whose movie plays in a
// web view; headless ("--headless", or no display), its movie is a movie
// script (docs/movie-scripts.md), and with "--console" a person at the
// console. The transcript goes to standard output.
#include "app/desktop.hpp"
#include "app/headless_desktop.hpp"
#include "cleaner/menrik_screen.hpp"

int main(int argc, char** argv) {
  using namespace tarvel;
  const std::string directory = start_directory("menrik");
  if (directory.empty()) return 1;
  const std::unique_ptr<Desktop> desktop = open_desktop(directory, argc, argv, "menrik");
  if (!desktop) return 2;
  (void)run_menrik(desktop->ui(), directory + "/");
  desktop->close();
  return 0;
}
