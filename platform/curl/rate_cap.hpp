#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tarvel {

// Holds all the transfers of a client together under one receive rate: a
// bucket that fills at the rate and that a transfer pays from before it
// takes a piece of a body in. A transfer that cannot pay waits (libcurl
// pauses it, which its stall watch does not count) until the bucket holds
// the piece. The bucket starts empty and holds at most one piece, so no
// stretch of time receives more than the rate allows, idle time included.
// Safe to share between threads.
class RateCap {
 public:
  using Clock = std::chrono::steady_clock;

  // 0 lifts the cap. A rate that differs from the one in force starts over
  // with an empty bucket.
  void set_rate(std::uint64_t bytes_per_second, Clock::time_point now = Clock::now());
  [[nodiscard]] bool capped() const;

  // The most a capped transfer should read at once: small enough that the
  // transfers take turns several times a second.
  [[nodiscard]] std::size_t piece_bytes() const;

  // Pays for bytes about to be taken in. False, with nothing paid, while the
  // bucket holds less than them (or than a whole bucket, for a larger piece,
  // which then leaves it owing).
  [[nodiscard]] bool pay(std::size_t bytes, Clock::time_point now = Clock::now());

  // How long until pay(bytes) could succeed; zero when it can now.
  [[nodiscard]] std::chrono::nanoseconds wait_for(std::size_t bytes,
                                                  Clock::time_point now = Clock::now());

 private:
  void fill(Clock::time_point now);
  [[nodiscard]] double price(std::size_t bytes) const;

  mutable std::mutex mutex_;
  double rate_ = 0;  // bytes per second, 0 for no cap
  double held_ = 0;  // may fall below zero after a piece larger than the bucket
  double size_ = 0;
  Clock::time_point filled_at_{};
};

}  // namespace tarvel
