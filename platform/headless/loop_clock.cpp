#include "platform/headless/loop_clock.hpp"

#include <chrono>

namespace tarvel {
namespace {

std::uint64_t steady_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace

RealLoopClock::RealLoopClock() : start_ms_(steady_ms()) {}

std::uint64_t RealLoopClock::now_ms() const { return steady_ms() - start_ms_; }

bool RealLoopClock::wait_until(std::uint64_t deadline_ms) {
  std::unique_lock lock(mutex_);
  const auto woken = [this] { return wake_pending_; };
  // One reading of the clock: with two, the deadline could pass between them
  // and the remaining time wrap round to an almost endless wait.
  const std::uint64_t now = now_ms();
  if (deadline_ms == kNever) {
    woken_.wait(lock, woken);
  } else if (deadline_ms > now) {
    woken_.wait_for(lock, std::chrono::milliseconds(deadline_ms - now), woken);
  }
  wake_pending_ = false;
  return true;
}

void RealLoopClock::wake() {
  {
    std::lock_guard lock(mutex_);
    wake_pending_ = true;
  }
  woken_.notify_all();
}

bool TestLoopClock::wait_until(std::uint64_t deadline_ms) {
  if (deadline_ms == kNever || deadline_ms > limit_) return false;
  if (hook_) hook_(now_.load(), deadline_ms);
  if (deadline_ms > now_.load()) now_.store(deadline_ms);
  return true;
}

}  // namespace tarvel
