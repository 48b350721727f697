#pragma once

#include <string>
#include <vector>

#include "platform/instance_guard.hpp"

namespace tarvel {

// The instance guard as an exclusive lock on a file named after the guard's
// name in a folder of the user's own. The system drops the lock when the
// process ends, however it ends, so a crash leaves nothing to clean up.
class LockFileInstanceGuard final : public InstanceGuard {
 public:
  // directories: where the lock file may live (native form), in order; the
  // first that is (or can be made) a private folder of this user is used.
  explicit LockFileInstanceGuard(std::vector<std::string> directories = user_lock_directories());
  explicit LockFileInstanceGuard(std::string directory)
      : LockFileInstanceGuard(std::vector<std::string>{std::move(directory)}) {}
  ~LockFileInstanceGuard() override;
  LockFileInstanceGuard(const LockFileInstanceGuard&) = delete;
  LockFileInstanceGuard& operator=(const LockFileInstanceGuard&) = delete;

  [[nodiscard]] Claim claim(const std::string& name) override;

  // Why the last claim failed, naming every folder tried; "" otherwise.
  [[nodiscard]] const std::string& failure() const { return failure_; }

  // $XDG_RUNTIME_DIR, then a folder of the user's cache ($XDG_CACHE_HOME or
  // ~/.cache, + "/tarvel"). Never a shared folder such as /tmp, where another
  // user could make the folder first and so keep the launcher from starting.
  static std::vector<std::string> user_lock_directories();

 private:
  // Claims the lock in one folder; failed (with the reason added) when the
  // folder will not do.
  Claim claim_in(const std::string& directory, const std::string& name);

  std::vector<std::string> directories_;
  std::string failure_;
  int fd_ = -1;
};

}  // namespace tarvel
