// This build has no real windows: every program runs headless.
#include "app/desktop.hpp"

namespace tarvel {

std::unique_ptr<Desktop> open_window_desktop(const std::string& directory) {
  (void)directory;
  return nullptr;
}

}  // namespace tarvel
