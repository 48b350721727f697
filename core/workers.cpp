#include "core/workers.hpp"

#include <cstdio>
#include <exception>

namespace tarvel {

Workers::~Workers() { stop_and_join(); }

bool Workers::start(WorkerKind kind, std::function<void()> work) {
  std::lock_guard lock(mutex_);
  Slot& s = slot(kind);
  if (stopping_.load() || s.running.load()) return false;
  // The previous worker of this kind has ended; collect its thread first.
  if (s.thread.joinable()) s.thread.join();
  s.running.store(true);
  s.thread = std::thread([this, &s, work = std::move(work)] {
    run_guarded(work);
    s.running.store(false);
  });
  return true;
}

void Workers::run_guarded(const std::function<void()>& work) const {
  try {
    work();
    return;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvel: background work stopped: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tarvel: background work stopped on an unknown error\n");
  }
  if (on_failure_) on_failure_();
}

bool Workers::running(WorkerKind kind) const { return slot(kind).running.load(); }

void Workers::join_all() {
  std::lock_guard lock(mutex_);
  for (Slot& s : slots_) {
    if (s.thread.joinable()) s.thread.join();
  }
}

void Workers::stop_and_join() {
  stopping_.store(true);
  join_all();
}

}  // namespace tarvel
