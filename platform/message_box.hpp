#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tarvel {

// A message box with an OK button and no owner window. It blocks its caller
// until the user has seen it (where there is a user).
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual void show(const std::string& text, const std::string& caption) = 0;
};

// Keeps every message box it was asked to show; used where nobody is there to
// press OK (tests, unattended runs). Safe to use from several threads.
class RecordingMessageBox final : public MessageBox {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    bool operator==(const Shown&) const = default;
  };

  void show(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({text, caption});
  }

  [[nodiscard]] std::vector<Shown> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Shown> shown_;
};

}  // namespace tarvel
