// Encoding on a thread of its own: the frame loop draws frame k + 1 while frame k is compressed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "view/frame_loop.hpp"

namespace orv::view {

// What to do with a frame when every slot of the queue still waits for the encoder.
enum class WhenBehind : std::uint8_t {
  wait,  // headless: the loop waits, no frame is lost
  drop,  // a window: the frame is not recorded (and counted), the flight goes on at its pace
};

// Copies each kept picture into one of `slots` buffers and hands it to `inner` on a thread of its
// own, in order. An error of `inner` is returned by the next call made here. The buffers are
// sized by the first frame (and again when the size changes), so that later frames allocate
// nothing. `finish` waits until every queued frame is written, then finishes `inner`; a sink
// destroyed before that stops after the frame being written and leaves `inner` unfinished.
class BackgroundSink final : public FrameSink {
 public:
  BackgroundSink(FrameSink& inner, WhenBehind when_behind, std::size_t slots = 3);
  BackgroundSink(const BackgroundSink&) = delete;
  BackgroundSink& operator=(const BackgroundSink&) = delete;
  ~BackgroundSink() override;

  Status frame(const FinishedFrame& frame) override;
  Status finish() override;

  // Frames handed to the inner sink so far, and frames dropped because the queue was full.
  std::uint64_t queued() const noexcept { return queued_; }
  std::uint64_t dropped() const noexcept { return dropped_; }

 private:
  struct Slot {
    FinishedFrame frame;
    std::vector<std::uint8_t> pixels;
  };

  void work();
  void stop();
  Status failure();

  FrameSink& inner_;
  WhenBehind when_behind_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable filled_;  // a slot was queued, or the sink stops
  std::condition_variable freed_;   // a slot was written
  std::size_t oldest_ = 0;          // the next slot to write
  std::size_t waiting_ = 0;         // queued slots not yet written (one may be being written)
  bool stopping_ = false;
  std::optional<Error> error_;
  std::uint64_t queued_ = 0;
  std::uint64_t dropped_ = 0;
  std::thread worker_;  // last: it starts once everything above is there
};

}  // namespace orv::view
