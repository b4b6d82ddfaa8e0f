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
  std::variant<std::unique_ptr<DeviceRenderer>, int> renderer = DeviceRenderer::start(
      session, webgpu::RenderTarget::offscreen(session.device, o.width, o.height), scene, true,
      err);
  if (const int* status = std::get_if<int>(&renderer)) return *status;
  PngFrameSink sink(o.out_dir);
  FrameLoop loop(config, {o.width, o.height, o.dt}, scene, inputs.script,
                 *std::get<std::unique_ptr<DeviceRenderer>>(renderer), sink);
  for (std::uint32_t k = 0; k < o.frames; ++k) {
    if (Status ok = loop.step(); !ok) return frameFailed(err, k, ok.error());
  }
  return exit_ok;
}

}  // namespace orv::view
