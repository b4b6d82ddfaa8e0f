// Frames into one video file through FFmpeg's libraries: H.264 in MP4 or VP9 in WebM, in yuv420p
// (BT.709, limited range), which every player opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "view/frame_loop.hpp"
#include "view/options.hpp"

namespace orv::view {

struct VideoSettings {
  std::string path;                   // where the finished video goes
  OutputKind kind = OutputKind::mp4;  // mp4 (H.264) or webm (VP9)
  int crf = 23;                       // the codec's constant-quality setting
  // The frames' times: frame k of the video at k · frame_seconds (headless, a fixed rate), or, with
  // `real_time`, at the time each frame shows (a window), frame_seconds being the nominal rate.
  double frame_seconds = 1.0 / 60.0;
  bool real_time = false;
};

// Writes the frames it receives into PATH.partial beside PATH, and renames it to PATH when
// `finish` has completed it; a sink destroyed before that removes it. The video's size is that of
// the first frame, rounded down to even sides (yuv420p's chroma is halved), the odd last row or
// column dropped; a later frame of another size (a resized window) is scaled to fit inside it,
// its aspect kept, on black.
class VideoSink final : public FrameSink {
 public:
  explicit VideoSink(VideoSettings settings);
  VideoSink(const VideoSink&) = delete;
  VideoSink& operator=(const VideoSink&) = delete;
  ~VideoSink() override;

  Status frame(const FinishedFrame& frame) override;
  Status finish() override;

  std::uint64_t written() const noexcept { return written_; }
  const std::string& partialPath() const noexcept { return partial_; }

  struct Encoder;  // FFmpeg's contexts

 private:
  enum class State : std::uint8_t { writing, done, failed };
  Status fail(std::string message);
  Status closed() const;

  VideoSettings settings_;
  std::string partial_;
  std::string shown_;  // the path as messages show it
  std::unique_ptr<Encoder> encoder_;
  std::uint64_t written_ = 0;
  State state_ = State::writing;
  std::string failure_;
};

}  // namespace orv::view
