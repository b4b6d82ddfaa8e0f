// What a window reports, as orv_input's events: GLFW's key, mouse-button, cursor, scroll and
// character callbacks become `InputEvent`s queued for the next frame, and the time between frames
// becomes the frame's dt. Nothing here opens a window, so all of it is tested without a display.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "orv/input.hpp"

namespace orv::view {

// The longest time step a frame is given: a stall (a window being dragged, a slow first frame, a
// machine under load) moves the camera at most this many seconds' worth, 0.2 rad at the default
// speed, instead of throwing it across the sphere.
inline constexpr double max_frame_dt = 0.1;

// Seconds between `from` and `to` of a monotonic clock, as a frame's dt: 0 when the clock did not
// advance, at most max_frame_dt.
double frameDt(std::chrono::steady_clock::time_point from,
               std::chrono::steady_clock::time_point to) noexcept;

// Whether a window with vsync must pace itself. With FIFO presentation a display holds each frame
// back until its vertical blank, so the loop needs no sleep of its own (sleeping as well would
// make it miss blanks); a display server without a vertical blank, such as Xvfb, presents at
// once, and the loop then sleeps out the rest of the frame period. The pacer watches how long
// frames take to draw and present, sleep excluded: it starts by trusting the surface, and asks for
// sleep once that time averages clearly below the period (a surface that does not block).
class VsyncPacer {
 public:
  explicit VsyncPacer(std::chrono::steady_clock::duration period) noexcept
      : period_(std::chrono::duration<double>(period).count()), average_(period_) {}

  // Takes the time the last frame took from its start to its present, and says whether to sleep
  // out the rest of the period.
  bool mustSleep(std::chrono::steady_clock::duration frame) noexcept {
    const double seconds = std::chrono::duration<double>(frame).count();
    average_ += smoothing * (seconds - average_);
    return average_ < blocking_share * period_;
  }

  // About the last 20 frames count.
  static constexpr double smoothing = 0.05;
  // A surface that blocks presents about once a period; one whose frames average below this share
  // of it does not block.
  static constexpr double blocking_share = 0.8;

 private:
  double period_;
  double average_;
};

// The most events a window queues for one frame: far more than a frame sees (a fast mouse reports
// a few hundred motions a second), so that no key or button event is lost. The frame loop folds
// every one of them; its InputState keeps only the first AppConfig::max_events in its list.
inline constexpr std::uint32_t max_window_events = 4096;

// The events of one frame, in arrival order, in a buffer of fixed capacity. When it is full, a
// cursor motion or a scroll that follows one of its kind is added into that one (the motion and
// the scroll offsets add up, nothing of them is lost); any other event is counted and dropped. The
// arguments are
// GLFW's: its key codes are orv's `Key` codes, its modifier bits `KeyMods::fromBits`' bits, its
// actions press 1, release 0 and repeat 2, its mouse buttons 0 left, 1 right, 2 middle (3 to 7 are
// passed on; the input state ignores them).
class WindowEvents {
 public:
  // Allocates the buffer of `capacity` events now; nothing later allocates.
  explicit WindowEvents(std::uint32_t capacity);

  // A key: press, release or repeat; a key GLFW does not know (GLFW_KEY_UNKNOWN, -1) or an
  // action it does not define is not queued.
  void key(int key, int scancode, int action, int mods) noexcept;
  // A mouse button at the last cursor position.
  void mouseButton(int button, int action, int mods) noexcept;
  // The cursor at (x, y), window coordinates: the motion is measured from the position before
  // (from `moveOrigin`'s position, or none on the first report).
  void cursor(double x, double y) noexcept;
  // A scroll at the last cursor position.
  void scroll(double x_offset, double y_offset) noexcept;
  void character(unsigned int codepoint) noexcept;

  // Where the next cursor motion is measured from: the cursor jumped without a motion of the user
  // (it was captured or released), so the jump must not count as one.
  void moveOrigin(double x, double y) noexcept;

  std::span<const InputEvent> events() const noexcept { return {events_.data(), size_}; }
  // Empties the queue for the next frame; `dropped` starts again from 0.
  void clear() noexcept {
    size_ = 0;
    dropped_ = 0;
  }
  std::uint32_t dropped() const noexcept { return dropped_; }

 private:
  void push(const InputEvent& e) noexcept;

  std::vector<InputEvent> events_;
  std::uint32_t size_ = 0;
  std::uint32_t dropped_ = 0;
  bool have_cursor_ = false;
  double x_ = 0.0;
  double y_ = 0.0;
};

}  // namespace orv::view
