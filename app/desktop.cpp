#include "app/desktop.hpp"

#include "app/headless_desktop.hpp"

namespace tarvel {

std::unique_ptr<Desktop> open_desktop(const std::string& directory, bool headless, bool console) {
  if (!headless && !console) {
    if (auto windows = open_window_desktop(directory + "/")) return windows;
  }
  return std::make_unique<HeadlessDesktop>(directory,
                                           console ? MovieMode::console : MovieMode::scripted);
}

}  // namespace tarvel
