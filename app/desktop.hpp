#pragma once

#include <memory>
#include <string>

#include "platform/message_box.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// What a program's screens run on: real windows, or the headless kernel.
class Desktop {
 public:
  virtual ~Desktop() = default;
  [[nodiscard]] virtual Ui& ui() = 0;
  // Message boxes for the App, from any thread.
  [[nodiscard]] virtual MessageBox& message_boxes() = 0;
  // Before the program's worker threads are joined: nothing waits for the
  // windows any more.
  virtual void close() {}
  // What the screens run on, for the support log.
  [[nodiscard]] virtual std::string kind() const = 0;
};

// Real windows, when this build has them and a display can be opened; null
// otherwise. directory: the application directory, ending in a separator.
std::unique_ptr<Desktop> open_window_desktop(const std::string& directory);

// The desktop a program runs on: real windows unless headless is asked for
// or no display can be opened; console: the headless kernel with a person at
// the console playing the movies.
std::unique_ptr<Desktop> open_desktop(const std::string& directory, bool headless, bool console);

}  // namespace tarvel
