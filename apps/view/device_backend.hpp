// The frame loop's device side on orv::webgpu: the compute kernels as `Batches` and the renderer
// as a `FrameRenderer`.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "orv/webgpu.hpp"
#include "view/batches.hpp"
#include "view/frame_loop.hpp"

namespace orv::view {

// The kernels in f32: points are rounded once to f32 on the way in, results widened on the way
// out. Conversion buffers are kept, so a batch of a size seen before allocates nothing here.
class DeviceBatches final : public Batches {
 public:
  explicit DeviceBatches(webgpu::ComputeKernels& kernels) noexcept : kernels_(kernels) {}
  const char* name() const noexcept override { return "device"; }
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

}  // namespace orv::view
