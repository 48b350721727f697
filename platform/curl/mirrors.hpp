#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarvel {

// Each group: a base address as a setting gives it, then the addresses of
// mirrors that serve the same files under the same paths.
using MirrorGroups = std::vector<std::vector<std::string>>;

// Which mirrors failed lately, for every transfer of a client. An address
// that failed (refused, reset, a 5xx answer, a stall, a body that is not the
// file) is passed over for a while: it is tried last, after the others.
class MirrorMemory {
 public:
  using Clock = std::chrono::steady_clock;
  explicit MirrorMemory(std::chrono::milliseconds pass_over = std::chrono::minutes(2))
      : pass_over_(pass_over) {}

  // Where to ask for address, best first: the address itself when no group
  // holds its base, else the same path under each base of its group (the
  // longest base that starts the address), those that failed lately last,
  // the one that failed longest ago first among them.
  [[nodiscard]] std::vector<std::string> addresses_for(const std::string& address,
                                                       const MirrorGroups& groups,
                                                       Clock::time_point now = Clock::now());
  void failed(const std::string& address, const MirrorGroups& groups,
              Clock::time_point now = Clock::now());

 private:
  const std::chrono::milliseconds pass_over_;
  std::mutex mutex_;
  std::map<std::string, Clock::time_point> failed_at_;  // by base
};

}  // namespace tarvel
