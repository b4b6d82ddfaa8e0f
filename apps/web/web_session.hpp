// orv-view's frame loop for a web page: the page reports its events and each frame's time step
// and size, and gets back what the frame asks the device to draw, which its own WebGPU code then
// draws with the same shader texts. Nothing here touches a device, so it builds and is tested
// natively as well as for WebAssembly.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "orv/app.hpp"
#include "orv/input.hpp"
#include "view/frame_loop.hpp"
#include "view/scene_content.hpp"

namespace orv::web {

// The scene of a page: the default scene for an empty text, otherwise a scene file's text. Its
// problem as one line ("scene:LINE: message", or "scene: message" for the file as a whole); a
// model (`mesh`) is refused, since a page has no files to read it from.
std::variant<view::ViewScene, std::string> pageScene(std::string_view text);

// What the frame loop last asked to draw, as it asked (the particles' positions and distances
// when they move on the CPU), and which particle states the device must take over first.
class CapturingRenderer final : public view::FrameRenderer {
 public:
  explicit CapturingRenderer(std::size_t particles) : device_states_(particles) {}

  view::Status draw(const view::FrameRequest& request, view::FinishedFrame& done) override;
  // The states that the page read back from the device before this frame (F2 to the CPU).
  view::Status readParticles(std::span<GpuGeodesicState> states) override;
  // Kept for the page to upload before it steps the particles on the device (F2 back).
  view::Status writeParticles(std::span<const GpuGeodesicState> states) override;

  const view::FrameRequest& request() const noexcept { return request_; }
  // Where the page puts the device's states when the next frame moves them to the CPU.
  std::span<GpuGeodesicState> deviceStates() noexcept { return device_states_; }
  // The states to upload before this frame's step, or empty.
  std::span<const GpuGeodesicState> uploads() const noexcept {
    return upload_ ? std::span<const GpuGeodesicState>(device_states_)
                   : std::span<const GpuGeodesicState>();
  }
  void frameStarts() noexcept { upload_ = false; }

 private:
  view::FrameRequest request_;
  std::vector<GpuGeodesicState> device_states_;
  bool upload_ = false;
};

// The events of one frame as the page reports them, in order; beyond `capacity` a motion or a
// scroll is added into the last one of its kind and any other event is dropped.
class PageEvents {
 public:
  explicit PageEvents(std::uint32_t capacity) { events_.reserve(capacity); }
  void push(const InputEvent& e) noexcept;
  std::span<const InputEvent> events() const noexcept { return events_; }
  void clear() noexcept { events_.clear(); }

 private:
  std::vector<InputEvent> events_;
};

// One page's flight: the scene, the loop and the events of the frame to come.
class WebSession {
 public:
  // Fails with pageScene's problem.
  static std::variant<std::unique_ptr<WebSession>, std::string> create(std::string_view scene);
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  PageEvents& events() noexcept { return events_; }
  // Whether the next frame moves the particles from the device to the CPU (an F2 press among its
  // events): the page must first read the device's states back into deviceStates().
  bool needsDeviceStates() const noexcept;
  // The next frame at `width` × `height` pixels (at least 1 × 1), dt seconds after the last one
  // (0 for a dt that is not positive, at most view::max_frame_dt).
  view::Status frame(double dt, std::uint32_t width, std::uint32_t height);

  const view::ViewScene& scene() const noexcept { return scene_; }
  const view::FrameLoop& loop() const noexcept { return loop_; }
  CapturingRenderer& renderer() noexcept { return renderer_; }
  // The readout under the picture: the window title's text without the program's name.
  std::string readout(double fps) const;

 private:
  explicit WebSession(view::ViewScene scene);

  view::ViewScene scene_;
  CapturingRenderer renderer_;
  view::DiscardSink sink_;
  view::FrameLoop loop_;
  PageEvents events_;
};

// What a fixed flight computes, as bytes to compare between builds: for each of `frames` frames
// of `scene` (pageScene's text) flown by `script` (an input script) at dt 1/60 s and `width` ×
// `height`, the camera, the picture's and the lights' uniforms, the particles' positions and
// distances where the CPU moves them, and the CPU batches over the scene's points (the world's
// action on them, their distances from the eye, the inverse of the camera's matrix) and one RK4
// step of the particles' states. Empty with the problem when the scene or the script is refused.
struct FlightTrace {
  std::vector<std::uint8_t> bytes;
  std::string problem;
};
FlightTrace flightTrace(std::string_view scene, std::string_view script, std::uint32_t frames,
                        std::uint32_t width, std::uint32_t height);

}  // namespace orv::web
