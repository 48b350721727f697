#pragma once

#include "platform/instance_guard.hpp"

namespace tarvel {

// The instance guard as an exclusive lock on a file named after the guard's
// name in a runtime directory. The system drops the lock when the process
// ends, however it ends, so a crash leaves nothing to clean up.
class LockFileInstanceGuard final : public InstanceGuard {
 public:
  // directory: where lock files live (native form); created if missing.
  explicit LockFileInstanceGuard(std::string directory = user_runtime_directory());
  ~LockFileInstanceGuard() override;
  LockFileInstanceGuard(const LockFileInstanceGuard&) = delete;
  LockFileInstanceGuard& operator=(const LockFileInstanceGuard&) = delete;

  [[nodiscard]] Claim claim(const std::string& name) override;

  // The user's runtime directory: $XDG_RUNTIME_DIR, or a folder of the user's
  // own under /tmp where the session has none.
  static std::string user_runtime_directory();

 private:
  std::string directory_;
  int fd_ = -1;
};

}  // namespace tarvel
