// A one-line progress display on a terminal, drawn from its own thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace orv::runner {

// Draws "{root} [{done}/{total}] {current}" on standard error about every 50 ms, always under the
// standard-error lock. Every other write to standard error clears the line first; the display
// redraws at its next tick and clears itself for good when it stops.
class ProgressDisplay {
 public:
  ProgressDisplay(std::string_view root, std::size_t total);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void begin(std::string_view name);  // a child node opens
  void end();                         // and closes

 private:
  void loop();
  void drawLocked();
  static void clearLocked(void* self);

  std::string root_;
  std::size_t total_;
  std::size_t completed_ = 0;
  std::string current_;
  bool stopping_ = false;
  std::mutex state_mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

// Whether a progress line is on the terminal now. Async-signal-safe: the fault handler clears the
// line before it reports.
bool progressLineDrawn() noexcept;

}  // namespace orv::runner
