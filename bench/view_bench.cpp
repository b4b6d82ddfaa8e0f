// orv-view-bench: the headless frame loop of orv-view at 1280 × 720 with the default scene, on the
// WebGPU adapter the system offers (the adapter's name is each result's label). One iteration is
// one frame: input folding, the camera, the RK4, distance and PGL action batches, the geometry, the
// draw and the read-back; the `png` variants also encode the frame as orv-view writes it (into
// memory, so that the disk is not measured). The camera flies forward and sideways the whole time.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/input_script.hpp"
#include "view/scene_content.hpp"

namespace {

using namespace orv::view;

// Unlike orv::view::DiscardSink, hands each picture to DoNotOptimize: its making stays measured.
class OptimisationBarrierSink final : public FrameSink {
 public:
  std::optional<std::string> frame(std::uint32_t, const ImageView& image) override {
    benchmark::DoNotOptimize(image.rgba.data());
    return std::nullopt;
  }
};

class EncodeSink final : public FrameSink {
 public:
  std::optional<std::string> frame(std::uint32_t, const ImageView& image) override {
    std::span<const std::uint8_t> png;
    if (auto bad = writer_.encode(image, png)) return bad;
    bytes = png.size();
    return std::nullopt;
  }
  std::size_t bytes = 0;

 private:
  PngWriter writer_;
};

void frameLoop(benchmark::State& state, bool on_device, bool encode) {
  constexpr std::uint32_t width = 1280, height = 720;
  auto device = orv::webgpu::Device::create();
  if (!device) {
    state.SkipWithError(("no usable GPU adapter: " + device.error().describe()).c_str());
    return;
  }
  auto kernels = orv::webgpu::ComputeKernels::create(*device);
  auto renderer = orv::webgpu::Renderer::create(*device, width, height);
  if (!kernels || !renderer) {
    state.SkipWithError("the kernels or the renderer could not be made");
    return;
  }
  const ScriptParse script = parseInputScript(on_device ? "0 key w press\n0 key d press\n"
                                                        : "0 key f2 press\n0 key w press\n"
                                                          "0 key d press\n");
  DefaultScene scene;
  DeviceBatches device_batches(*kernels);
  CpuBatches cpu_batches;
  DeviceRenderer device_renderer(*renderer);
  OptimisationBarrierSink discard;
  EncodeSink encoder;
  FrameSink& sink = encode ? static_cast<FrameSink&>(encoder) : discard;
  const orv::AppConfig config{};
  FrameLoop loop(config, {width, height, config.frame_dt}, scene, script.events, device_batches,
                 cpu_batches, device_renderer, sink);
  if (auto bad = loop.step()) {  // the first frame sizes every buffer
    state.SkipWithError(bad->c_str());
    return;
  }
  for (auto _ : state) {
    if (auto bad = loop.step()) {
      state.SkipWithError(bad->c_str());
      return;
    }
  }
  state.SetLabel(std::string(device->adapterName()) + (on_device ? "" : ", CPU batches"));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  if (encode) state.counters["png_bytes"] = static_cast<double>(encoder.bytes);
}

void BM_ViewFrame(benchmark::State& state) { frameLoop(state, true, false); }
void BM_ViewFramePng(benchmark::State& state) { frameLoop(state, true, true); }
void BM_ViewFrameCpuBatches(benchmark::State& state) { frameLoop(state, false, false); }

BENCHMARK(BM_ViewFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFramePng)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameCpuBatches)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
