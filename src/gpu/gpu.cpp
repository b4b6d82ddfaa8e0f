// The CPU reference batches: plain loops over the kernel's per-element functions.
#include <algorithm>
#include <cstddef>

#include "orv/gpu.hpp"

namespace orv {

void cpuFSDistanceBatch(std::span<const HomVec4> positions, HomVec4 reference,
                        std::span<double> output) noexcept {
  const std::size_t n = std::min(positions.size(), output.size());
  for (std::size_t i = 0; i < n; ++i)
    output[i] = fsDistance(positions[i], reference);
}

void cpuPGLActionBatch(const PGL4& m, std::span<const HomVec4> input,
                       std::span<HomVec4> output) noexcept {
  const std::size_t n = std::min(input.size(), output.size());
  for (std::size_t i = 0; i < n; ++i)
    output[i] = m.apply(input[i]);
}

}  // namespace orv
