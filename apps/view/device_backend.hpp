// The frame loop's device side on orv::webgpu: the device and its kernels, and the renderer that
// holds a scene's geometry and particles on the device and draws them into an offscreen image or
// a window's surface.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "orv/webgpu.hpp"
#include "view/frame_loop.hpp"
#include "view/scene_content.hpp"
#include "view/view_inputs.hpp"

namespace orv::view {

// Failures of these steps mean that no usable adapter was there (exit status 3); later ones are
// failures of a device that was found.
constexpr bool isAdapterStep(webgpu::ErrorStep step) noexcept {
  switch (step) {
    case webgpu::ErrorStep::instance:
    case webgpu::ErrorStep::adapter:
    case webgpu::ErrorStep::backend:
    case webgpu::ErrorStep::device:
      return true;
    default:
      return false;
  }
}

// The device and its compute kernels, brought up once for the program.
struct DeviceSession {
  webgpu::Device device;
  webgpu::ComputeKernels kernels;
};

// Brings up the device and its kernels; on failure writes one line to `err` and returns the exit
// status: exit_no_adapter where no usable adapter was found, exit_failed otherwise.
std::variant<DeviceSession, int> startDevice(std::FILE* err);

// --adapter: brings up the device and prints one line about its adapter to `out`, "NAME
// (BACKEND, TYPE; DRIVER)"; returns the exit status, as startDevice on failure.
int printAdapter(std::FILE* out, std::FILE* err);

// The scene of a given scene file, or the default scene.
ViewScene makeScene(const ViewInputs& inputs);

// Writes the failure of frame `frame` as one line on `err` and returns the exit status it calls
// for: a window that can no longer present ends the program like a missing display
// (exit_no_window), anything else is a rendering failure (exit_failed).
int frameFailed(std::FILE* err, std::uint32_t frame, const webgpu::Error& error);

// Draws a scene's frames on the device: its vertex lists uploaded once, its particles moving on
// the device (or uploaded from the CPU), into `target`. With `keep`, every picture drawn is read
// back through a ring of `readback_depth` buffers, so that frame k comes back while frames k + 1
// and k + 2 are drawn, and handed out in order (headless, or a window that records).
class DeviceRenderer final : public FrameRenderer {
 public:
  static constexpr std::uint32_t readback_depth = 3;

  static webgpu::Expected<std::unique_ptr<DeviceRenderer>> create(DeviceSession& session,
                                                                  webgpu::RenderTarget target,
                                                                  const ViewScene& scene,
                                                                  bool keep);

  Status draw(const FrameRequest& request, FinishedFrame& done) override;
  Status flush(FinishedFrame& done) override;
  Status readParticles(std::span<GpuGeodesicState> states) override;
  Status writeParticles(std::span<const GpuGeodesicState> states) override;

  // Draws `request` (a view of the last frame: nothing moves) offscreen at `width` × `height`,
  // each side up to the device's largest texture side, and reads it back into `out`.
  Status still(const FrameRequest& request, std::uint32_t width, std::uint32_t height,
               webgpu::Image& out);

  // The renderer of `scene` on the target the caller made, or the exit status (exit_failed) after
  // one line on `err` saying what could not be made.
  static std::variant<std::unique_ptr<DeviceRenderer>, int> start(
      DeviceSession& session, webgpu::Expected<webgpu::RenderTarget> target, const ViewScene& scene,
      bool keep, std::FILE* err);

  DeviceRenderer(DeviceSession& session, webgpu::RenderTarget target,
                 webgpu::PictureRenderer picture, webgpu::SceneBuffers scene,
                 std::vector<webgpu::MeshBuffers> meshes,
                 std::optional<webgpu::Particles> particles,
                 std::optional<webgpu::FrameReadback> readback) noexcept;

 private:
  webgpu::PictureContent content(const FrameRequest& request) const;
  // The oldest frame in the ring, if it is back (or, with `wait`, once it is).
  Status take(FinishedFrame& done, bool wait);

  DeviceSession& session_;
  webgpu::RenderTarget target_;
  webgpu::PictureRenderer picture_;
  webgpu::SceneBuffers scene_;
  std::vector<webgpu::MeshBuffers> meshes_;
  std::optional<webgpu::Particles> particles_;
  std::optional<webgpu::FrameReadback> readback_;
  // The times of the frames in the ring, oldest first (the ring's tags are the frames' indices).
  std::array<double, readback_depth> times_{};
  std::uint32_t oldest_time_ = 0;
  webgpu::Image image_;
  // Made at the first still: an offscreen target and the pipelines for its format.
  std::optional<webgpu::RenderTarget> still_target_;
  std::optional<webgpu::PictureRenderer> still_picture_;
};

}  // namespace orv::view
