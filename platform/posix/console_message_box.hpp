#pragma once

#include <cstdio>
#include <mutex>

#include "platform/message_box.hpp"

namespace tarvel {

// Message boxes of console programs: printed on standard error, not waited for.
class ConsoleMessageBox final : public MessageBox {
 public:
  void show(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "[message box] %s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
  }

 private:
  std::mutex mutex_;
};

}  // namespace tarvel
