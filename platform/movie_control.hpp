#pragma once

#include <string>

namespace tarvel {

// What a movie raises on the screen that hosts it, in the control's own wide
// text: a command with its argument, and external-interface requests.
class MovieEvents {
 public:
  virtual ~MovieEvents() = default;
  virtual void on_fs_command(const std::u16string& command, const std::u16string& arguments) = 0;
  virtual void on_flash_call(const std::u16string& request) = 0;
};

// The movie player filling a screen: loads a movie, plays it, and takes calls
// into the movie. A missing movie is not an error: the screen stays blank.
class MovieControl {
 public:
  virtual ~MovieControl() = default;
  virtual void load_movie(int layer, const std::u16string& path) = 0;
  virtual void play() = 0;
  // Calls a function of the movie with an external-interface request; its
  // answer (often nothing) comes back as text.
  virtual std::u16string call_function(const std::u16string& request) = 0;
};

}  // namespace tarvel
