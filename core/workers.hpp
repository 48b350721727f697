#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvel {

// The two kinds of background work the screens start.
enum class WorkerKind { update_check, installation };

// Owns every worker thread of one launcher. Nothing waits for a worker as the
// player sees it, but no thread outlives the App it works in: the destructor
// asks running work to stop and joins every thread. At most one worker of a
// kind runs at a time. A worker reaches its screen only through the settings
// record, never through the screen object, whose window may be gone.
class Workers {
 public:
  // on_failure runs on the worker's thread when its work ends by an
  // exception (which is named on standard error instead of ending the
  // program), so that the screen waiting for the work learns it failed.
  explicit Workers(std::function<void()> on_failure = {}) : on_failure_(std::move(on_failure)) {}
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Runs work on a new thread at once, unless a worker of this kind still
  // runs (false: nothing started) or the launcher is tearing down.
  bool start(WorkerKind kind, std::function<void()> work);
  [[nodiscard]] bool running(WorkerKind kind) const;

  // True once the launcher is tearing down: long work (a download) may give
  // up early instead of holding the process open.
  [[nodiscard]] bool stop_requested() const { return stopping_.load(); }
  [[nodiscard]] const std::atomic<bool>& stop_flag() const { return stopping_; }

  // Waits for every worker to end (tests, teardown). Workers may still be
  // started afterwards unless a stop was requested.
  void join_all();
  // Asks running work to stop, then joins it; no worker starts afterwards.
  void stop_and_join();

 private:
  struct Slot {
    std::thread thread;
    std::atomic<bool> running{false};
  };
  static constexpr std::size_t kKinds = 2;

  void run_guarded(const std::function<void()>& work) const;
  Slot& slot(WorkerKind kind) { return slots_[static_cast<std::size_t>(kind)]; }
  const Slot& slot(WorkerKind kind) const { return slots_[static_cast<std::size_t>(kind)]; }

  std::function<void()> on_failure_;
  // Serialises start and join; never held while work runs.
  std::mutex mutex_;
  std::array<Slot, kKinds> slots_;
  std::atomic<bool> stopping_{false};
};

}  // namespace tarvel
