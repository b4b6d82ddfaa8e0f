#include "view/device_backend.hpp"

namespace orv::view {

namespace {

std::string describe(const webgpu::Error& e) { return "device " + e.describe(); }

double widen(float x) noexcept { return static_cast<double>(x); }

}  // namespace

std::variant<DeviceSession, int> startDevice(std::FILE* err) {
  webgpu::Expected<webgpu::Device> device = webgpu::Device::create();
  if (!device) {
    const webgpu::Error& e = device.error();
    if (isAdapterStep(e.step)) {
      std::fprintf(err, "orv-view: no usable GPU adapter: %s\n", e.describe().c_str());
      return exit_no_adapter;
    }
    std::fprintf(err, "orv-view: %s\n", e.describe().c_str());
    return exit_failed;
  }
  webgpu::Expected<webgpu::ComputeKernels> kernels = webgpu::ComputeKernels::create(*device);
  if (!kernels) {
    std::fprintf(err, "orv-view: %s\n", kernels.error().describe().c_str());
    return exit_failed;
  }
  return DeviceSession{std::move(*device), std::move(*kernels)};
}

int printAdapter(std::FILE* out, std::FILE* err) {
  const std::variant<DeviceSession, int> started = startDevice(err);
  if (const int* status = std::get_if<int>(&started)) return *status;
  const webgpu::AdapterInfo& a = std::get<DeviceSession>(started).device.adapter();
  std::fprintf(out, "%s (%s, %s; %s)\n", a.name.c_str(), std::string(toString(a.backend)).c_str(),
               std::string(toString(a.type)).c_str(), a.driver.c_str());
  return exit_ok;
}

std::unique_ptr<SceneContent> makeScene(const ViewInputs& inputs) {
  if (inputs.scene) return std::make_unique<FileScene>(*inputs.scene);
  return std::make_unique<DefaultScene>();
}

std::optional<std::string> DeviceBatches::pglAction(const PGL4& m, std::span<const HomVec4> in,
                                                    std::span<HomVec4> out) {
  points_.resize(in.size());
  results_.resize(in.size());
  batchToGpu(in, points_);
  if (const webgpu::Status s = kernels_.pglActionBatch(pgl4ToGpu(m), points_, results_); !s) {
    return describe(s.error());
  }
  const std::size_t n = std::min(in.size(), out.size());
  for (std::size_t i = 0; i < n; ++i) {
    const GpuHomVec4& r = results_[i];
    out[i] = {widen(r.x), widen(r.y), widen(r.z), widen(r.w)};
  }
  return std::nullopt;
}

std::optional<std::string> DeviceBatches::fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                                     std::span<double> out) {
  points_.resize(in.size());
  distances_.resize(in.size());
  batchToGpu(in, points_);
  if (const webgpu::Status s =
          kernels_.fsDistanceBatch(points_, homVec4ToGpu(reference), distances_);
      !s) {
    return describe(s.error());
  }
  const std::size_t n = std::min(in.size(), out.size());
  for (std::size_t i = 0; i < n; ++i)
    out[i] = widen(distances_[i]);
  return std::nullopt;
}

std::optional<std::string> DeviceBatches::geodesicStep(std::span<const GpuGeodesicState> in,
                                                       float dt, std::span<GpuGeodesicState> out) {
  if (const webgpu::Status s = kernels_.geodesicRk4Step(in, dt, out); !s) {
    return describe(s.error());
  }
  return std::nullopt;
}

std::optional<std::string> DeviceRenderer::draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                                std::span<const ViewVertex> triangles,
                                                std::span<const ViewVertex> lines,
                                                ImageView& image) {
  const webgpu::FrameUniforms uniforms{mvp, eye};
  if (const webgpu::Status s = renderer_.draw(uniforms, triangles, lines, image_); !s) {
    return describe(s.error());
  }
  image = {image_.width, image_.height, std::size_t{4} * image_.width, image_.rgba};
  return std::nullopt;
}

std::optional<std::string> SurfaceRenderer::draw(const GpuPGL4& mvp, const GpuHomVec4& eye,
                                                 std::span<const ViewVertex> triangles,
                                                 std::span<const ViewVertex> lines,
                                                 ImageView& image) {
  const webgpu::FrameUniforms uniforms{mvp, eye};
  image = {};
  webgpu::Expected<webgpu::FrameOutcome> outcome =
      renderer_.present(surface_, uniforms, triangles, lines, record_ ? &image_ : nullptr);
  if (!outcome) {
    last_error_step_ = outcome.error().step;
    return describe(outcome.error());
  }
  if (*outcome == webgpu::FrameOutcome::skipped) return std::nullopt;
  if (record_) image = {image_.width, image_.height, std::size_t{4} * image_.width, image_.rgba};
  return std::nullopt;
}

}  // namespace orv::view
