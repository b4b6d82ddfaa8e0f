// The frame loop of orv-view, independent of the device: it owns the camera and the input state,
// and reaches the device through `Batches` (the compute kernels) and `FrameRenderer` (the draw).
//
// Frame k (from 0):
//   1. `beginFrame`, then the frame's events folded in order: the script's events of frame k
//      (headless), or the events the window reported since the last frame;
//   2. `camera.update(state, dt)`, then `state.mouse.clearDeltas()`, with the fixed dt (headless)
//      or the one the window measured;
//   3. reset_camera → `camera.reset()`; toggle_wireframe (F1) shows or hides the edges;
//      toggle_pipeline (F2) switches the batches between the device and the CPU;
//   4. `mvpGpu` and `worldToCamera` of the camera;
//   5. the scene advances by dt (the default scene's RK4 and distance batches), and the PGL action
//      batch takes every point to camera coordinates c = W·q;
//   6. discs and edges are built from those (view_geometry.hpp), drawn, and handed to the sink.
// So frame k shows the state after k + 1 updates. Escape (`should_close`) has no effect here: the
// window reads it from `input()` and closes; headless, the loop renders the number of frames it
// was asked for.
//
// After the first frame the loop itself requests no heap memory: every buffer is reused, and the
// event list is grown to `max_events` when the loop is made.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "orv/app.hpp"
#include "orv/input.hpp"
#include "view/batches.hpp"
#include "view/input_script.hpp"
#include "view/png_writer.hpp"
#include "view/scene_content.hpp"
#include "view/view_geometry.hpp"

namespace orv::view {

// Draws one frame's vertex lists with the camera's `mvp` and eye (its position); the picture it
// leaves stays valid until the next call.
class FrameRenderer {
 public:
  FrameRenderer() = default;
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;
  virtual ~FrameRenderer() = default;

  virtual std::optional<std::string> draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                          std::span<const ViewVertex> triangles,
                                          std::span<const ViewVertex> lines, ImageView& image) = 0;

 protected:
  FrameRenderer(FrameRenderer&&) = default;
  FrameRenderer& operator=(FrameRenderer&&) = default;
};

// Receives each finished picture.
class FrameSink {
 public:
  FrameSink() = default;
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;
  virtual ~FrameSink() = default;

  virtual std::optional<std::string> frame(std::uint32_t index, const ImageView& image) = 0;

 protected:
  FrameSink(FrameSink&&) = default;
  FrameSink& operator=(FrameSink&&) = default;
};

// Writes DIR/frame_00000.png, frame_00001.png, ...
class PngFrameSink final : public FrameSink {
 public:
  explicit PngFrameSink(const std::string& dir);
  std::optional<std::string> frame(std::uint32_t index, const ImageView& image) override;
  const PngWriter& writer() const noexcept { return writer_; }

 private:
  std::vector<char> path_;  // DIR/frame_NNNNN.png with its terminating NUL
  std::size_t name_at_ = 0;
  PngWriter writer_;
};

// Writes only the pictures that are not empty, numbered from 0 in the order they come: a window's
// presented frames when it records.
class RecordSink final : public FrameSink {
 public:
  explicit RecordSink(const std::string& dir) : png_(dir) {}
  std::optional<std::string> frame(std::uint32_t index, const ImageView& image) override;
  std::uint32_t written() const noexcept { return written_; }

 private:
  PngFrameSink png_;
  std::uint32_t written_ = 0;
};

// Receives pictures and keeps none (a window that does not record).
class DiscardSink final : public FrameSink {
 public:
  std::optional<std::string> frame(std::uint32_t, const ImageView&) override {
    return std::nullopt;
  }
};

struct LoopSettings {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double dt = 0.0;
};

class FrameLoop {
 public:
  // `device` and `cpu` are the two sets of batches F2 switches between; the loop starts on
  // `device`. `script` is sorted by frame (as parseInputScript leaves it).
  FrameLoop(const AppConfig& config, const LoopSettings& settings, SceneContent& scene,
            std::span<const ScriptedEvent> script, Batches& device, Batches& cpu,
            FrameRenderer& renderer, FrameSink& sink);
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;
  ~FrameLoop();

  // Runs the next frame with the script's events and the fixed dt; describes what failed
  // otherwise (a device error, a file not written).
  std::optional<std::string> step();
  // Runs the next frame with `events` and `dt` (a window's).
  std::optional<std::string> step(std::span<const InputEvent> events, double dt);
  // The picture's size from the next frame on (a window that was resized).
  void resize(std::uint32_t width, std::uint32_t height) noexcept {
    settings_.width = width;
    settings_.height = height;
  }

  std::uint32_t framesDone() const noexcept { return frame_; }
  const OrvCamera& camera() const noexcept { return camera_; }
  const InputState& input() const noexcept { return input_; }
  const LoopSettings& settings() const noexcept { return settings_; }
  bool edgesShown() const noexcept { return show_edges_; }
  bool onDevice() const noexcept { return use_device_; }

 private:
  // Steps 2 to 6 of a frame whose events have been folded in.
  std::optional<std::string> finish(double dt);

  LoopSettings settings_;
  SceneContent& scene_;
  std::span<const ScriptedEvent> script_;
  std::size_t next_event_ = 0;
  Batches& device_;
  Batches& cpu_;
  FrameRenderer& renderer_;
  FrameSink& sink_;

  std::pmr::unsynchronized_pool_resource event_memory_;
  OrvCamera camera_;
  InputState input_;
  bool show_edges_ = true;
  bool use_device_ = true;
  std::uint32_t frame_ = 0;

  std::vector<HomVec4> camera_coords_;
  FrameGeometry geometry_;
};

}  // namespace orv::view
