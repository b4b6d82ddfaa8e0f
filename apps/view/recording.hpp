// Where a run's pictures go: nowhere, PNG files in a folder or one video, written on a thread of
// their own; and stills, single pictures of the current view at any size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "orv/app.hpp"
#include "view/background_sink.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/options.hpp"

namespace orv::view {

class Recording {
 public:
  // Headless (--out): a video at the fixed rate of --dt, and no frame is ever dropped. A window
  // (--record): a video timed by the frames' own times, and frames the encoder cannot keep up
  // with are dropped. Without either, the sink takes the frames and keeps none.
  explicit Recording(const ViewOptions& o);
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
  ~Recording() = default;

  bool active() const noexcept { return queue_ != nullptr; }
  FrameSink& sink() noexcept;
  std::uint64_t written() const noexcept;
  std::uint64_t dropped() const noexcept;
  // What a window writes at its end: "recorded N frames into OUT", and the dropped ones.
  std::string summary() const;

 private:
  std::string out_;
  std::unique_ptr<FrameSink> inner_;
  std::unique_ptr<BackgroundSink> queue_;  // after inner_: its thread writes into it until it goes
  DiscardSink discard_;
};

// Draws the loop's current view at `width` × `height` offscreen and writes it to `path` as PNG.
Status writeStill(DeviceRenderer& renderer, const FrameLoop& loop, std::uint32_t width,
                  std::uint32_t height, const std::string& path);

// --still: the last frame's view into its file; exit_ok, or exit_failed after one line on `err`.
int writeLastStill(DeviceRenderer& renderer, const FrameLoop& loop, const ViewOptions& o,
                   std::FILE* err);

// Where F12 puts a still taken at `now`: orv-view-YYYYMMDD-HHMMSS.png in the current folder, or
// with -2, -3, ... before the extension when that name is taken.
std::string stillName(std::time_t now);

// Checks a still's size against the device: one line on `err` and exit_bad_input when a side
// is larger than its largest texture.
int checkStillSize(const DeviceSession& session, const ViewOptions& o, std::FILE* err);

}  // namespace orv::view
