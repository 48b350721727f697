#pragma once

#include "platform/clock.hpp"

namespace tarvel {

// The machine's real clock.
class SystemClock final : public Clock {
 public:
  [[nodiscard]] UtcTime utc_now() const override;
  [[nodiscard]] std::uint64_t tick_ms() const override;
};

}  // namespace tarvel
