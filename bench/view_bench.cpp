// orv-view-bench: the headless frame loop of orv-view at 1280 × 720, on the WebGPU adapter the
// system offers (the adapter's name is each result's label). One iteration is one frame: input
// folding, the camera, the particles (on the device, or on the CPU and uploaded), the picture and
// its read-back; the `Png` variant also encodes the frame as orv-view writes it (into memory, so
// that the disk is not measured), and `Wireframe600Cell` draws the 600-cell's points and edges
// alone, the scene of earlier versions. The camera flies forward and sideways the whole time.
// `round_trips` counts the waits for the device per frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <string>

#include "orv/webgpu.hpp"
#include "view/device_backend.hpp"
#include "view/frame_loop.hpp"
#include "view/input_script.hpp"
#include "view/polytope.hpp"
#include "view/scene_content.hpp"

namespace {

using namespace orv::view;

// Unlike orv::view::DiscardSink, hands each picture to DoNotOptimize: its making stays measured.
class OptimisationBarrierSink final : public FrameSink {
 public:
  Status frame(std::uint32_t, const ImageView& image) override {
    benchmark::DoNotOptimize(image.rgba.data());
    return {};
  }
};

class EncodeSink final : public FrameSink {
 public:
  Status frame(std::uint32_t, const ImageView& image) override {
    std::span<const std::uint8_t> png;
    if (auto bad = writer_.encode(image, png)) return Error{ErrorStep::output, *bad};
    bytes = png.size();
    return {};
  }
  std::size_t bytes = 0;

 private:
  PngWriter writer_;
};

// The 600-cell's 60 projective points and 360 edges, as a scene file would give them.
Scene wireframe600Cell() {
  Scene scene;
  for (const orv::HomVec4 q : icosians()) {
    const bool canonical =
        q.x > 0 || (q.x == 0 && (q.y > 0 || (q.y == 0 && (q.z > 0 || (q.z == 0 && q.w > 0)))));
    if (canonical) scene.points.push_back({q, {0.62f, 0.78f, 1.0f}});
  }
  const double edge_cos = 0.80901699437494745;  // cos π/5
  for (std::uint32_t i = 0; i < scene.points.size(); ++i) {
    for (std::uint32_t j = i + 1; j < scene.points.size(); ++j) {
      const double d = orv::HomVec4::dot(scene.points[i].position, scene.points[j].position);
      if (std::fabs(std::fabs(d) - edge_cos) < 1e-9) scene.edges.push_back({i, j});
    }
  }
  return scene;
}

enum class Variant { device, cpu_particles, png, wireframe };

void frameLoop(benchmark::State& state, Variant variant) {
  constexpr std::uint32_t width = 1280, height = 720;
  std::variant<DeviceSession, int> started = startDevice(stderr);
  if (std::holds_alternative<int>(started)) {
    state.SkipWithError("no usable GPU adapter");
    return;
  }
  DeviceSession& session = std::get<DeviceSession>(started);
  ViewScene scene = variant == Variant::wireframe ? fileScene(wireframe600Cell()) : defaultScene();
  auto target = orv::webgpu::RenderTarget::offscreen(session.device, width, height);
  if (!target) {
    state.SkipWithError(target.error().describe().c_str());
    return;
  }
  auto renderer = DeviceRenderer::create(session, std::move(*target), scene, true);
  if (!renderer) {
    state.SkipWithError(renderer.error().describe().c_str());
    return;
  }
  const ScriptParse script = parseInputScript(variant == Variant::cpu_particles
                                                  ? "0 key f2 press\n0 key w press\n0 key d press\n"
                                                  : "0 key w press\n0 key d press\n");
  OptimisationBarrierSink discard;
  EncodeSink encoder;
  FrameSink& sink = variant == Variant::png ? static_cast<FrameSink&>(encoder) : discard;
  const orv::AppConfig config{};
  FrameLoop loop(config, {width, height, config.frame_dt}, scene, script.events, **renderer, sink);
  if (Status ok = loop.step(); !ok) {  // the first frame sizes every buffer
    state.SkipWithError(ok.error().describe().c_str());
    return;
  }
  const std::uint64_t waits = session.device.roundTrips();
  for (auto _ : state) {
    if (Status ok = loop.step(); !ok) {
      state.SkipWithError(ok.error().describe().c_str());
      return;
    }
  }
  state.SetLabel(std::string(session.device.adapterName()));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["round_trips"] = static_cast<double>(session.device.roundTrips() - waits) /
                                  static_cast<double>(state.iterations());
  if (variant == Variant::png) state.counters["png_bytes"] = static_cast<double>(encoder.bytes);
}

void BM_ViewFrame(benchmark::State& state) { frameLoop(state, Variant::device); }
void BM_ViewFramePng(benchmark::State& state) { frameLoop(state, Variant::png); }
void BM_ViewFrameCpuParticles(benchmark::State& state) { frameLoop(state, Variant::cpu_particles); }
void BM_ViewFrameWireframe600Cell(benchmark::State& state) { frameLoop(state, Variant::wireframe); }

BENCHMARK(BM_ViewFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFramePng)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameCpuParticles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ViewFrameWireframe600Cell)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
