// The self-checks of orv_gpu: the checks, then their table in registration order. A check is a
// function here and a row in `checks`; the runner's registry is built from this table.
#pragma once

#include <array>

#include "check.hpp"
#include "orv/gpu.hpp"

namespace orv::gpu_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

inline Result shadersNonEmpty() {
  static_assert(!wgsl_fs_distance_batch.empty());
  static_assert(!wgsl_pgl_action_batch.empty());
  static_assert(!wgsl_geodesic_rk4_step.empty());
  static_assert(!wgsl_idempotent_newton.empty());
  static_assert(!wgsl_dehomogenize_vertex.empty());
  return success;
}

inline Result gpuHomVec4Size() {
  static_assert(sizeof(GpuHomVec4) == 16);
  return success;
}

inline Result gpuPGL4Size() {
  static_assert(sizeof(GpuPGL4) == 64);
  return success;
}

inline Result gpuGeodesicStateSize() {
  static_assert(sizeof(GpuGeodesicState) == 32);
  return success;
}

inline Result homVec4Conversion() {
  const GpuHomVec4 g = homVec4ToGpu(HomVec4::init(1.0, 2.0, 3.0, 1.0));
  ORV_TRY(expectApproxEqAbs(g.x, 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.y, 2.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.z, 3.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.w, 1.0f, 1e-5f));
  return success;
}

inline Result pgl4ConversionIdentity() {
  const GpuPGL4 g = pgl4ToGpu(PGL4::identity());
  ORV_TRY(expectApproxEqAbs(g.data[0], 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.data[5], 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.data[10], 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(g.data[15], 1.0f, 1e-5f));
  return success;
}

inline Result batchConversion() {
  const std::array points{HomVec4::init(1.0, 0.0, 0.0, 1.0), HomVec4::init(0.0, 1.0, 0.0, 1.0)};
  std::array<GpuHomVec4, 2> output{};
  batchToGpu(points, output);
  ORV_TRY(expectApproxEqAbs(output[0].x, 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(output[1].y, 1.0f, 1e-5f));
  return success;
}

inline Result cpuFSDistanceBatchCheck() {
  const std::array positions{HomVec4::init(1.0, 0.0, 0.0, 0.0), HomVec4::init(0.0, 1.0, 0.0, 0.0),
                             HomVec4::init(0.0, 0.0, 1.0, 0.0)};
  const HomVec4 reference = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  std::array<double, 3> output{};
  cpuFSDistanceBatch(positions, reference, output);
  ORV_TRY(expectApproxEqAbs(output[0], 0.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(output[1], 1.5707963267948966, 1e-10));
  ORV_TRY(expectApproxEqAbs(output[2], 1.5707963267948966, 1e-10));
  return success;
}

inline Result cpuPGLActionBatchCheck() {
  const PGL4 m = pglTranslate(1.0, 0.0, 0.0);
  const std::array input{HomVec4::init(0.0, 0.0, 0.0, 1.0), HomVec4::init(1.0, 0.0, 0.0, 1.0)};
  std::array<HomVec4, 2> output{};
  cpuPGLActionBatch(m, input, output);
  ORV_TRY(expectApproxEqAbs(output[0].x, 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(output[0].w, 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(output[1].x, 2.0, 1e-10));
  return success;
}

inline Result computePipelinesValid() {
  static constexpr auto pipelines = allComputePipelines();
  static_assert(pipelines.size() == 4);
  for (const ComputePipelineDesc& desc : pipelines) {
    ORV_TRY(expect(!desc.shader.empty()));
    ORV_TRY(expect(desc.workgroup_size > 0));
  }
  return success;
}

inline Result wgslModuleAssembly() {
  const std::string_view m = buildWgslModule();
  ORV_TRY(expect(m.size() > 100));
  return success;
}

inline Result rk4ParamsAlignment() {
  static_assert(sizeof(RK4Params) == 16);
  return success;
}

inline Result mvpAlignment() {
  static_assert(sizeof(GpuPGL4) == 64 && sizeof(GpuPGL4) % 16 == 0);
  return success;
}

// Registered name and function of every check, in registration order.
inline constexpr std::array checks{
    check::TestFn{"orv_gpu.test.GPU: WGSL shaders are non-empty", &shadersNonEmpty},
    check::TestFn{"orv_gpu.test.GPU: GpuHomVec4 is 16 bytes", &gpuHomVec4Size},
    check::TestFn{"orv_gpu.test.GPU: GpuPGL4 is 64 bytes", &gpuPGL4Size},
    check::TestFn{"orv_gpu.test.GPU: GpuGeodesicState is 32 bytes", &gpuGeodesicStateSize},
    check::TestFn{"orv_gpu.test.GPU: HomVec4 → GpuHomVec4 conversion", &homVec4Conversion},
    check::TestFn{"orv_gpu.test.GPU: PGL4 → GpuPGL4 conversion preserves identity",
                  &pgl4ConversionIdentity},
    check::TestFn{"orv_gpu.test.GPU: batch conversion", &batchConversion},
    check::TestFn{"orv_gpu.test.GPU: CPU equivalent FS distance batch", &cpuFSDistanceBatchCheck},
    check::TestFn{"orv_gpu.test.GPU: CPU equivalent PGL action batch", &cpuPGLActionBatchCheck},
    check::TestFn{"orv_gpu.test.GPU: all compute pipelines are valid", &computePipelinesValid},
    check::TestFn{"orv_gpu.test.GPU: WGSL module assembly", &wgslModuleAssembly},
    check::TestFn{"orv_gpu.test.GPU: RK4Params alignment", &rk4ParamsAlignment},
    check::TestFn{"orv_gpu.test.GPU: MVP alignment", &mvpAlignment},
};

}  // namespace orv::gpu_checks
