#pragma once

#include <chrono>
#include <thread>

namespace tarvel::testing {

// Waits until the condition holds, looking again every millisecond; false
// when the deadline passes first. For state that another thread changes and
// that offers nothing to wait on.
template <typename Condition>
[[nodiscard]] bool eventually(Condition&& condition,
                              std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace tarvel::testing
