// The CPU reference batches: the kernel's per-element functions over whole sequences, vectorised
// across elements with results identical to the plain loops (see simd/fast_paths.hpp).
#include <algorithm>
#include <cstddef>

#include "orv/gpu.hpp"
#include "fast_paths.hpp"

namespace orv {

void cpuFSDistanceBatch(std::span<const HomVec4> positions, HomVec4 reference,
                        std::span<double> output) noexcept {
  const std::size_t n = std::min(positions.size(), output.size());
  detail::fsDistanceBatch(positions.data(), reference, output.data(), n);
}

void cpuPGLActionBatch(const PGL4& m, std::span<const HomVec4> input,
                       std::span<HomVec4> output) noexcept {
  const std::size_t n = std::min(input.size(), output.size());
  detail::applyBatch(m, input.data(), output.data(), n);
}

}  // namespace orv
