#include "view/headless.hpp"

#include <memory>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/scene_content.hpp"

namespace orv::view {

int runHeadless(const ViewInputs& inputs, const AppConfig& config, std::FILE* err) {
  const ViewOptions& o = inputs.options;
  std::variant<DeviceSession, int> started = startDevice(err);
  if (const int* status = std::get_if<int>(&started)) return *status;
  auto& session = std::get<DeviceSession>(started);
  webgpu::Expected<webgpu::Renderer> renderer =
      webgpu::Renderer::create(session.device, o.width, o.height);
  if (!renderer) {
    std::fprintf(err, "orv-view: %s\n", renderer.error().describe().c_str());
    return exit_failed;
  }

  const std::unique_ptr<SceneContent> scene = makeScene(inputs);
  DeviceBatches device_batches(session.kernels);
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
