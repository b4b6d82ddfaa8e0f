// The frame loop's device side on orv::webgpu: the compute kernels as `Batches` and the renderer
// as a `FrameRenderer`, drawing offscreen or presenting to a window's surface.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "orv/webgpu.hpp"
#include "view/batches.hpp"
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
std::unique_ptr<SceneContent> makeScene(const ViewInputs& inputs);

// The kernels in f32: points are rounded once to f32 on the way in, results widened on the way
// out. Conversion buffers are kept, so a batch of a size seen before allocates nothing here.
class DeviceBatches final : public Batches {
 public:
  explicit DeviceBatches(webgpu::ComputeKernels& kernels) noexcept : kernels_(kernels) {}
  std::optional<std::string> pglAction(const PGL4& m, std::span<const HomVec4> in,
                                       std::span<HomVec4> out) override;
  std::optional<std::string> fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                        std::span<double> out) override;
  std::optional<std::string> geodesicStep(std::span<const GpuGeodesicState> in, float dt,
                                          std::span<GpuGeodesicState> out) override;

 private:
  webgpu::ComputeKernels& kernels_;
  std::vector<GpuHomVec4> points_;
  std::vector<GpuHomVec4> results_;
  std::vector<float> distances_;
};

class DeviceRenderer final : public FrameRenderer {
 public:
  explicit DeviceRenderer(webgpu::Renderer& renderer) noexcept : renderer_(renderer) {}
  std::optional<std::string> draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                  std::span<const ViewVertex> triangles,
                                  std::span<const ViewVertex> lines, ImageView& image) override;

 private:
  webgpu::Renderer& renderer_;
  webgpu::Image image_;
};

// Presents each frame to a window's surface. With `record`, the picture it leaves is the frame
// as presented (read back); without, and for a frame the surface skipped, it leaves an empty
// picture (width 0).
class SurfaceRenderer final : public FrameRenderer {
 public:
  SurfaceRenderer(webgpu::Renderer& renderer, webgpu::Surface& surface, bool record) noexcept
      : renderer_(renderer), surface_(surface), record_(record) {}
  std::optional<std::string> draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                  std::span<const ViewVertex> triangles,
                                  std::span<const ViewVertex> lines, ImageView& image) override;

  // The step of the last failure (a surface failure ends the program like a missing display).
  webgpu::ErrorStep lastErrorStep() const noexcept { return last_error_step_; }

 private:
  webgpu::Renderer& renderer_;
  webgpu::Surface& surface_;
  bool record_;
  webgpu::Image image_;
  webgpu::ErrorStep last_error_step_ = webgpu::ErrorStep::internal;
};

}  // namespace orv::view
