#include "app/desktop.hpp"

#include <cstdio>
#include <string_view>

#include "app/headless_desktop.hpp"

namespace tarvel {

std::unique_ptr<Desktop> open_desktop(const std::string& directory, int argc, char** argv,
                                      const char* program) {
  bool headless = false;
  MovieMode mode = MovieMode::scripted;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--headless") {
      headless = true;
    } else if (argument == "--console") {
      // A person at the console plays the movies: no windows.
      headless = true;
      mode = MovieMode::console;
    } else {
      std::fprintf(stderr, "%s: unknown argument %s (the arguments are --headless and --console)\n",
                   program, argv[i]);
      return nullptr;
    }
  }
  if (!headless) {
    if (auto windows = open_window_desktop(directory + "/")) return windows;
  }
  return std::make_unique<HeadlessDesktop>(directory, mode);
}

}  // namespace tarvel
