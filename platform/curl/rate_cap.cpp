#include "platform/curl/rate_cap.hpp"

#include <algorithm>
#include <cmath>

namespace tarvel {
namespace {

// An eighth of a second's worth, within what one read of libcurl brings.
constexpr std::uint64_t kPiecesPerSecond = 8;
constexpr std::uint64_t kSmallestPiece = 4 * 1024;
constexpr std::uint64_t kLargestPiece = 512 * 1024;

std::size_t piece_for(double rate) {
  const auto per_piece = static_cast<std::uint64_t>(rate) / kPiecesPerSecond;
  return static_cast<std::size_t>(std::clamp(per_piece, kSmallestPiece, kLargestPiece));
}

}  // namespace

void RateCap::set_rate(std::uint64_t bytes_per_second, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto rate = static_cast<double>(bytes_per_second);
  if (rate == rate_) return;
  rate_ = rate;
  held_ = 0;
  size_ = rate > 0 ? static_cast<double>(piece_for(rate)) : 0;
  filled_at_ = now;
}

bool RateCap::capped() const {
  std::lock_guard lock(mutex_);
  return rate_ > 0;
}

std::size_t RateCap::piece_bytes() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(size_);
}

void RateCap::fill(Clock::time_point now) {
  if (now <= filled_at_) return;
  const double seconds = std::chrono::duration<double>(now - filled_at_).count();
  held_ = std::min(size_, held_ + seconds * rate_);
  filled_at_ = now;
}

double RateCap::price(std::size_t bytes) const {
  return std::min(static_cast<double>(bytes), size_);
}

bool RateCap::pay(std::size_t bytes, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (rate_ <= 0) return true;
  fill(now);
  if (held_ < price(bytes)) return false;
  held_ -= static_cast<double>(bytes);
  return true;
}

std::chrono::nanoseconds RateCap::wait_for(std::size_t bytes, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (rate_ <= 0) return {};
  fill(now);
  const double missing = price(bytes) - held_;
  if (missing <= 0) return {};
  return std::chrono::nanoseconds(static_cast<std::int64_t>(std::ceil(missing / rate_ * 1e9)));
}

}  // namespace tarvel
