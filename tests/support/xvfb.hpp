#pragma once

#include <sys/types.h>
#include <string>

namespace tarvel::testing {

// A private X display for tests that open real windows: an Xvfb server of
// its own, started at construction (the constructor returns once the server
// takes connections) and stopped with the object, or with the process that
// made it, however that ends.
class Xvfb {
 public:
  // width x height at 24 bits per pixel.
  explicit Xvfb(int width = 1280, int height = 1024);
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":N", or "" when the server could not be started (error() says why).
  [[nodiscard]] const std::string& display() const { return display_; }
  [[nodiscard]] const std::string& error() const { return error_; }
  // The server's process.
  [[nodiscard]] pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

}  // namespace tarvel::testing
