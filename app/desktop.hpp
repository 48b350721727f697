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
};

// Real windows, when this build has them and a display can be opened; null
// otherwise. directory: the application directory, ending in a separator.
std::unique_ptr<Desktop> open_window_desktop(const std::string& directory);

// The desktop a program runs on, from its arguments: "--headless" asks for
// the headless kernel, which is also what runs without a display, and
// "--console" for the headless kernel with a person at the console playing
// the movies. Null after saying on standard error what was wrong with the
// arguments.
std::unique_ptr<Desktop> open_desktop(const std::string& directory, int argc, char** argv,
                                      const char* program);

}  // namespace tarvel
