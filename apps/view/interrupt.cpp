#include "view/interrupt.hpp"

#include <csignal>

namespace orv::view {

namespace {

// The one thing a signal handler may touch.
volatile std::sig_atomic_t stop_requested = 0;

extern "C" void requestStop(int /*signal*/) { stop_requested = 1; }

}  // namespace

void catchInterrupts() noexcept {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() noexcept { return stop_requested != 0; }

}  // namespace orv::view
