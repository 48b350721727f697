#include "platform/curl/mirrors.hpp"

#include <algorithm>

namespace tarvel {
namespace {

struct Match {
  const std::vector<std::string>* group = nullptr;
  std::size_t base_size = 0;
};

// The group whose base (or a mirror of it) starts the address, the longest such.
Match match_of(const std::string& address, const MirrorGroups& groups) {
  Match best;
  for (const auto& group : groups) {
    if (group.size() < 2) continue;
    for (const std::string& base : group) {
      if (!base.empty() && base.size() > best.base_size && address.starts_with(base)) {
        best = {&group, base.size()};
      }
    }
  }
  return best;
}

}  // namespace

std::vector<std::string> MirrorMemory::addresses_for(const std::string& address,
                                                     const MirrorGroups& groups,
                                                     Clock::time_point now) {
  const Match match = match_of(address, groups);
  if (match.group == nullptr) return {address};
  const std::string rest = address.substr(match.base_size);
  std::vector<std::pair<Clock::time_point, std::string>> order;
  {
    const std::lock_guard lock(mutex_);
    for (const std::string& base : *match.group) {
      const auto failed = failed_at_.find(base);
      const bool lately = failed != failed_at_.end() && now - failed->second < pass_over_;
      order.emplace_back(lately ? failed->second : Clock::time_point::min(), base);
    }
  }
  // Stable: the group's own order among those that did not fail lately.
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> addresses;
  for (const auto& [when, base] : order) {
    if (std::find(addresses.begin(), addresses.end(), base + rest) == addresses.end()) {
      addresses.push_back(base + rest);
    }
  }
  return addresses;
}

void MirrorMemory::failed(const std::string& address, const MirrorGroups& groups,
                          Clock::time_point now) {
  const Match match = match_of(address, groups);
  if (match.group == nullptr) return;
  const std::lock_guard lock(mutex_);
  failed_at_[address.substr(0, match.base_size)] = now;
}

}  // namespace tarvel
