#include "view/headless.hpp"

#include <memory>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/interrupt.hpp"
#include "view/recording.hpp"
#include "view/scene_content.hpp"

namespace orv::view {

int runHeadless(const ViewInputs& inputs, const AppConfig& config, std::FILE* err) {
  const ViewOptions& o = inputs.options;
  std::variant<DeviceSession, int> started = startDevice(err);
  if (const int* status = std::get_if<int>(&started)) return *status;
  auto& session = std::get<DeviceSession>(started);
  if (const int status = checkStillSize(session, o, err); status != exit_ok) return status;
  ViewScene scene = makeScene(inputs);
  Recording recording(o);
  // Frames are read back even when none is kept (a still alone): waiting for them is what keeps
  // the loop at the device's pace, where otherwise every frame would be queued at once.
  std::variant<std::unique_ptr<DeviceRenderer>, int> made = DeviceRenderer::start(
      session, webgpu::RenderTarget::offscreen(session.device, o.width, o.height), scene, true,
      err);
  if (const int* status = std::get_if<int>(&made)) return *status;
  DeviceRenderer& renderer = *std::get<std::unique_ptr<DeviceRenderer>>(made);
  FrameLoop loop(config, {o.width, o.height, o.dt}, scene, inputs.script, renderer,
                 recording.sink());
  catchInterrupts();
  for (std::uint32_t k = 0; k < o.frames && !interrupted(); ++k) {
    if (Status ok = loop.step(); !ok) return frameFailed(err, k, ok.error());
  }
  if (Status ok = loop.finish(); !ok) return frameFailed(err, loop.framesDone(), ok.error());
  if (interrupted()) {
    std::fprintf(err, "orv-view: interrupted after %u of %u frames (what was written is kept)\n",
                 static_cast<unsigned>(loop.framesDone()), static_cast<unsigned>(o.frames));
    return exit_interrupted;
  }
  return writeLastStill(renderer, loop, o, err);
}

}  // namespace orv::view
