// The camera's per-frame work.
#include <cstdint>

#include "bench_util.hpp"
#include "orv/app.hpp"

namespace orv::bench {
namespace {

// A frame in which the camera moves forward and turns: both parts of update do their work.
InputState movingInput() {
  InputState input;
  input.camera_move_forward = true;
  input.camera_orbit = true;
  input.mouse.dx = 3.0;
  input.mouse.dy = -2.0;
  return input;
}

}  // namespace

void registerCameraBenchmarks() {
  benchmark::RegisterBenchmark("Camera/update", [](benchmark::State& s) {
    const InputState input = movingInput();
    OrvCamera camera;
    for (auto _ : s) {
      camera.update(input, 1.0 / 60.0);
      benchmark::DoNotOptimize(camera);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
  benchmark::RegisterBenchmark("Camera/mvpGpu", [](benchmark::State& s) {
    OrvCamera camera;
    camera.update(movingInput(), 0.25);
    for (auto _ : s) {
      benchmark::DoNotOptimize(camera);
      GpuPGL4 mvp = camera.mvpGpu(16.0 / 9.0);
      benchmark::DoNotOptimize(mvp);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
}

}  // namespace orv::bench
