// The frame loop of orv-view, independent of the device: it owns the camera and the input state,
// and reaches the device through a `FrameRenderer`, which holds the scene's static geometry and
// the particles' states and draws the picture.
//
// Frame k (from 0):
//   1. `beginFrame`, then the frame's events folded in order: the script's events of frame k
//      (headless), or the events the window reported since the last frame;
//   2. `camera.update(state, dt)`, then `state.mouse.clearDeltas()`, with the fixed dt (headless)
//      or the one the window measured;
//   3. reset_camera → `camera.reset()`; toggle_wireframe (F1) shows or hides the edges, F3 the
//      faces; toggle_pipeline (F2) moves the particles between the device and the CPU (their
//      states travel along, so the picture does not jump);
//   4. the picture's uniforms from the camera (pictureToGpu);
//   5. the particles advance by dt and are measured from the eye: on the device, in the frame's
//      own submissions, or on the CPU (CpuParticles), whose results are uploaded;
//   6. the picture is drawn and handed to the sink (a renderer that reads pictures back while later
//      frames are drawn hands them over frames later; `finish` collects the last ones).
// So frame k shows the state after k + 1 updates. Escape (`should_close`) has no effect here: the
// window reads it from `input()` and closes; headless, the loop renders the number of frames it
// was asked for.
//
// After the first frame the loop itself requests no heap memory: every buffer is reused, and the
// event list is grown to `max_events` when the loop is made.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "orv/app.hpp"
#include "orv/input.hpp"
#include "orv/webgpu/error.hpp"
#include "view/input_script.hpp"
#include "view/png_writer.hpp"
#include "view/scene_content.hpp"

namespace orv::view {

#if __has_include(<memory_resource>)
using EventMemory = std::pmr::unsynchronized_pool_resource;
#else
// Where the standard library has no pool resource (the WebAssembly toolchain's): operator new and
// delete. The loop grows its event list once, when it is made, either way.
class EventMemory final : public pmr::memory_resource {
  void* do_allocate(std::size_t bytes, std::size_t align) override {
    return ::operator new (bytes, std::align_val_t{align});
  }
  void do_deallocate(void* p, std::size_t, std::size_t align) override {
    ::operator delete (p, std::align_val_t{align});
  }
  bool do_is_equal(const pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};
#endif

using webgpu::Error;
using webgpu::ErrorStep;
using webgpu::Status;

// What one frame asks the renderer to draw besides the static geometry it holds.
struct FrameRequest {
  std::uint32_t index = 0;  // of the frame in the loop, from 0
  double time = 0.0;        // of the flight that the frame shows: the sum of the dt so far
  GpuPicture picture;
  GpuLighting lighting;  // what the meshes are lit by
  bool faces = true;
  bool edges = true;
  // The particles (when the scene has any): advanced on the device by dt and measured from `eye`,
  // or drawn where the CPU put them (`positions`, `distances`).
  bool particles_on_device = true;
  float dt = 0.0f;
  GpuHomVec4 eye{0.0f, 0.0f, 0.0f, 1.0f};
  std::span<const GpuHomVec4> positions;
  std::span<const float> distances;
};

// A picture that the renderer finished: that of frame `index`, which shows the flight `time`
// seconds after its start. Its pixels stay valid until the renderer's next call.
struct FinishedFrame {
  std::uint32_t index = 0;
  double time = 0.0;
  ImageView image;  // empty (width 0) when there is none
};

// Draws frames of one scene (given when the renderer is made).
class FrameRenderer {
 public:
  FrameRenderer() = default;
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;
  virtual ~FrameRenderer() = default;

  // Draws one frame. `done` is a picture that has come back by now, this frame's or, when the
  // renderer reads pictures back while later frames are drawn, an earlier one; or empty when
  // none is kept (a window that does not record, a frame the surface skipped) or none is back.
  virtual Status draw(const FrameRequest& request, FinishedFrame& done) = 0;
  // The next picture still on its way back, waiting for it; empty when none is left.
  virtual Status flush(FinishedFrame& done) {
    done = {};
    return {};
  }
  // The particles' states where the device keeps them: read when F2 moves the particles to the
  // CPU, written when it moves them back.
  virtual Status readParticles(std::span<GpuGeodesicState> states) = 0;
  virtual Status writeParticles(std::span<const GpuGeodesicState> states) = 0;

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

  // Receives the frames in the order they were drawn; an empty picture is a frame not kept.
  virtual Status frame(const FinishedFrame& frame) = 0;
  // After the last frame: completes what was written (a video's file). A sink that is destroyed
  // without it leaves nothing that looks complete.
  virtual Status finish() { return {}; }

 protected:
  FrameSink(FrameSink&&) = default;
  FrameSink& operator=(FrameSink&&) = default;
};

// Writes DIR/frame_00000.png, frame_00001.png, ...
class PngFrameSink final : public FrameSink {
 public:
  explicit PngFrameSink(const std::string& dir);
  Status frame(const FinishedFrame& frame) override;
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
  Status frame(const FinishedFrame& frame) override;
  std::uint32_t written() const noexcept { return written_; }

 private:
  PngFrameSink png_;
  std::uint32_t written_ = 0;
};

// Receives pictures and keeps none (a window that does not record).
class DiscardSink final : public FrameSink {
 public:
  Status frame(const FinishedFrame&) override { return {}; }
};

struct LoopSettings {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double dt = 0.0;
};

class FrameLoop {
 public:
  // `scene` is the one `renderer` was made for; the loop steps its CPU particles under F2. It
  // starts with the particles on the device. `script` is sorted by frame (as parseInputScript
  // leaves it).
  FrameLoop(const AppConfig& config, const LoopSettings& settings, ViewScene& scene,
            std::span<const ScriptedEvent> script, FrameRenderer& renderer, FrameSink& sink);
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;
  ~FrameLoop();

  // Runs the next frame with the script's events and the fixed dt.
  Status step();
  // Runs the next frame with `events` and `dt` (a window's).
  Status step(std::span<const InputEvent> events, double dt);
  // After the last frame: hands the sink the pictures still on their way back, then lets it
  // finish.
  Status finish();
  // What a frame of the current view at `width` × `height` asks for, without moving anything:
  // the camera and the particles as the last frame left them (a still).
  FrameRequest viewRequest(std::uint32_t width, std::uint32_t height) const;
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
  bool facesShown() const noexcept { return show_faces_; }
  bool onDevice() const noexcept { return use_device_; }

 private:
  // Steps 2 to 6 of a frame whose events have been folded in.
  Status run(double dt);
  Status moveParticles();
  HomVec4 eye() const noexcept {
    return {camera_.pos[0], camera_.pos[1], camera_.pos[2], camera_.pos[3]};
  }

  LoopSettings settings_;
  ViewScene& scene_;
  std::span<const ScriptedEvent> script_;
  std::size_t next_event_ = 0;
  FrameRenderer& renderer_;
  FrameSink& sink_;

  EventMemory event_memory_;
  OrvCamera camera_;
  InputState input_;
  bool show_edges_ = true;
  bool show_faces_ = true;
  bool use_device_ = true;
  std::uint32_t frame_ = 0;
  double time_ = 0.0;
};

}  // namespace orv::view
