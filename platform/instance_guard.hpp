#pragma once

#include <string>

namespace tarvel {

// Keeps a second copy of the program from running at the same time.
class InstanceGuard {
 public:
  enum class Claim { claimed, already_running, failed };

  virtual ~InstanceGuard() = default;
  // Claims the name for this process until the guard goes away (or the
  // process ends). Another holder of the name gives already_running.
  [[nodiscard]] virtual Claim claim(const std::string& name) = 0;
};

}  // namespace tarvel
