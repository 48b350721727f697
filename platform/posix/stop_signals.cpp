#include "platform/posix/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>

namespace tarvel {
namespace {

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop) {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  waiter_ = std::thread([set, closing = closing_, stop = std::move(on_stop)] {
    int signal = 0;
    sigwait(&set, &signal);
    if (!*closing) stop();
  });
}

StopSignals::~StopSignals() {
  // The waiter is woken with a signal of our own, which it must not take
  // for the user's.
  *closing_ = true;
  pthread_kill(waiter_.native_handle(), SIGTERM);
  waiter_.join();
}

}  // namespace tarvel
