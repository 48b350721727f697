#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace tarvel {

// Turns Ctrl+C and a termination request into one call of on_stop, made on a
// thread of its own, so a server can end its loop and clean up instead of
// dying mid-answer. Construct it before any other thread exists: the signals
// are held back for every thread started after it.
class StopSignals {
 public:
  explicit StopSignals(std::function<void()> on_stop);
  // Ends the waiting thread (if no signal came, on_stop is not called).
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
  std::thread waiter_;
};

}  // namespace tarvel
