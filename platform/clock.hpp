#pragma once

#include <cstdint>

namespace tarvel {

struct UtcTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar date and time in UTC.
  [[nodiscard]] virtual UtcTime utc_now() const = 0;
  // Milliseconds from an arbitrary fixed start; never goes backwards.
  [[nodiscard]] virtual std::uint64_t tick_ms() const = 0;
};

}  // namespace tarvel
