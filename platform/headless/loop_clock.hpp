#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>

namespace tarvel {

// The time a message loop runs on. Programs wait on the real clock; tests
// drive a clock that jumps straight to the next deadline, so a 10-second
// timer fires in microseconds and nothing ever sleeps.
class LoopClock {
 public:
  static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

  virtual ~LoopClock() = default;
  // Milliseconds since the clock started. Safe from any thread.
  [[nodiscard]] virtual std::uint64_t now_ms() const = 0;
  // Returns at the deadline (kNever: no deadline) or earlier after wake().
  // False when the deadline can never come: the loop has to give up.
  [[nodiscard]] virtual bool wait_until(std::uint64_t deadline_ms) = 0;
  // Ends a wait early; safe from any thread.
  virtual void wake() = 0;
};

// The machine's monotonic clock.
class RealLoopClock final : public LoopClock {
 public:
  RealLoopClock();
  [[nodiscard]] std::uint64_t now_ms() const override;
  [[nodiscard]] bool wait_until(std::uint64_t deadline_ms) override;
  void wake() override;

 private:
  std::uint64_t start_ms_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool wake_pending_ = false;
};

// A clock that tests drive. Waiting moves it to the deadline at once. A wait
// with no deadline, or past the limit, gives up, so a loop whose window can no
// longer close returns instead of hanging the test.
class TestLoopClock final : public LoopClock {
 public:
  [[nodiscard]] std::uint64_t now_ms() const override { return now_.load(); }
  [[nodiscard]] bool wait_until(std::uint64_t deadline_ms) override;
  void wake() override {}

  // Waits beyond this time give up (default: a simulated hour).
  void set_limit_ms(std::uint64_t limit) { limit_ = limit; }
  // Runs before every jump, with the current time and the deadline: a test
  // can hold the clock there until a worker thread has done its part.
  void on_wait(std::function<void(std::uint64_t now, std::uint64_t deadline)> hook) {
    hook_ = std::move(hook);
  }

 private:
  std::atomic<std::uint64_t> now_{0};
  std::uint64_t limit_ = 3'600'000;
  std::function<void(std::uint64_t, std::uint64_t)> hook_;
};

}  // namespace tarvel
