// orv_gpu: the CPU reference batches, which compute in f64 what the fs_distance_batch and
// pgl_action_batch kernels compute in f32.
#pragma once

#include <span>

#include "orv/kernel.hpp"

namespace orv {

// CPU reference batches: f64 equivalents of fs_distance_batch and pgl_action_batch. Unlike the
// kernels they process min(input length, output length) elements; surplus outputs keep what
// they held.

// output[i] = fsDistance(positions[i], reference).
void cpuFSDistanceBatch(std::span<const HomVec4> positions, HomVec4 reference,
                        std::span<double> output) noexcept;

// output[i] = m.apply(input[i]), not normalised, for i = 0, 1, … in order. Element i is read before
// it is written, so input and output may be the same or overlapping sequences, with the result of
// that plain loop.
void cpuPGLActionBatch(const PGL4& m, std::span<const HomVec4> input,
                       std::span<HomVec4> output) noexcept;

}  // namespace orv
