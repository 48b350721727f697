#pragma once

#include "platform/files.hpp"
#include "platform/headless/movie_host.hpp"

namespace tarvel {

// Movies that are movie scripts: the file at the movie path is a script of
// rules, read when the movie is loaded (docs/movie-scripts.md). A missing or
// unreadable file plays nothing, as a missing movie leaves a blank screen.
class ScriptedMovieHost final : public MovieHost {
 public:
  // files: how movie paths are opened.
  explicit ScriptedMovieHost(Files& files) : files_(files) {}
  [[nodiscard]] std::unique_ptr<MovieControl> create(HeadlessUi& ui, WindowId window,
                                                     MovieEvents& events) override;

 private:
  Files& files_;
};

}  // namespace tarvel
