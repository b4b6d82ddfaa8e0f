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
  ViewScene scene = makeScene(inputs);
  webgpu::Expected<webgpu::RenderTarget> target =
      webgpu::RenderTarget::offscreen(session.device, o.width, o.height);
  if (!target) {
    std::fprintf(err, "orv-view: %s\n", target.error().describe().c_str());
    return exit_failed;
  }
  webgpu::Expected<std::unique_ptr<DeviceRenderer>> renderer =
      DeviceRenderer::create(session, std::move(*target), scene, true);
  if (!renderer) {
    std::fprintf(err, "orv-view: %s\n", renderer.error().describe().c_str());
    return exit_failed;
  }
  PngFrameSink sink(o.out_dir);
  FrameLoop loop(config, {o.width, o.height, o.dt}, scene, inputs.script, **renderer, sink);
  for (std::uint32_t k = 0; k < o.frames; ++k) {
    if (Status ok = loop.step(); !ok) {
      std::fprintf(err, "orv-view: frame %u: %s\n", static_cast<unsigned>(k),
                   ok.error().describe().c_str());
      return exitStatusOf(ok.error());
    }
  }
  return exit_ok;
}

}  // namespace orv::view
