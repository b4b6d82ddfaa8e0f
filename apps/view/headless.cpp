#include "view/headless.hpp"

#include <memory>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/scene_content.hpp"

namespace orv::view {

int runHeadless(const ViewInputs& inputs, const AppConfig& config, std::FILE* err) {
  const ViewOptions& o = inputs.options;
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
  webgpu::Expected<webgpu::Renderer> renderer =
      webgpu::Renderer::create(*device, o.width, o.height);
  if (!renderer) {
    std::fprintf(err, "orv-view: %s\n", renderer.error().describe().c_str());
    return exit_failed;
  }

  std::unique_ptr<SceneContent> scene;
  if (inputs.scene) {
    scene = std::make_unique<FileScene>(*inputs.scene);
  } else {
    scene = std::make_unique<DefaultScene>();
  }
  DeviceBatches device_batches(*kernels);
  CpuBatches cpu_batches;
  DeviceRenderer device_renderer(*renderer);
  PngFrameSink sink(o.out_dir);
  FrameLoop loop(config, {o.width, o.height, o.dt}, *scene, inputs.script, device_batches,
                 cpu_batches, device_renderer, sink);
  for (std::uint32_t k = 0; k < o.frames; ++k) {
    if (auto bad = loop.step()) {
      std::fprintf(err, "orv-view: frame %u: %s\n", static_cast<unsigned>(k), bad->c_str());
      return exit_failed;
    }
  }
  return exit_ok;
}

}  // namespace orv::view
