// The self-checks of orv_gpu, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::gpu_checks {

check::Result shadersNonEmpty();
check::Result gpuHomVec4Size();
check::Result gpuPGL4Size();
check::Result gpuGeodesicStateSize();
check::Result homVec4Conversion();
check::Result pgl4ConversionIdentity();
check::Result batchConversion();
check::Result cpuFSDistanceBatchCheck();
check::Result cpuPGLActionBatchCheck();
check::Result computePipelinesValid();
check::Result wgslModuleAssembly();
check::Result rk4ParamsAlignment();
check::Result mvpAlignment();

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
