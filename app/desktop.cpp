#include "app/desktop.hpp"

#include <cstdio>
#include <string_view>

#include "app/headless_desktop.hpp"

namespace tarvel {

std::unique_ptr<Desktop> open_desktop(const std::string& directory, int argc, char** argv,
                                      const char* program) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--headless") {
      headless = true;
    } else {
      std::fprintf(stderr, "%s: unknown argument %s (the one argument is --headless)\n", program,
                   argv[i]);
      return nullptr;
    }
  }
  if (!headless) {
    if (auto windows = open_window_desktop(directory + "/")) return windows;
  }
  return std::make_unique<HeadlessDesktop>(directory);
}

}  // namespace tarvel
