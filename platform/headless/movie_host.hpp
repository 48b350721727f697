#pragma once

#include <memory>

#include "platform/movie_control.hpp"
#include "platform/ui.hpp"

namespace tarvel {

class HeadlessUi;

// Makes the movie controls of a headless user interface. Which host a program
// uses is decided when the program is built.
class MovieHost {
 public:
  virtual ~MovieHost() = default;
  [[nodiscard]] virtual std::unique_ptr<MovieControl> create(HeadlessUi& ui, WindowId window,
                                                             MovieEvents& events) = 0;
};

}  // namespace tarvel
