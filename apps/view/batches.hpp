// The per-frame batches of the frame loop, behind one interface so that F2 can switch between the
// device kernels and the CPU reference batches.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "orv/gpu.hpp"
#include "orv/kernel.hpp"

namespace orv::view {

class Batches {
 public:
  Batches() = default;
  Batches(const Batches&) = delete;
  Batches& operator=(const Batches&) = delete;
  virtual ~Batches() = default;

  // out[i] = m·in[i] for i < in.size() (out at least as long).
  virtual std::optional<std::string> pglAction(const PGL4& m, std::span<const HomVec4> in,
                                               std::span<HomVec4> out) = 0;
  // out[i] = Fubini–Study distance from in[i] to `reference`.
  virtual std::optional<std::string> fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                                std::span<double> out) = 0;
  // One classical RK4 step of length dt of every great-circle state, in f32.
  virtual std::optional<std::string> geodesicStep(std::span<const GpuGeodesicState> in, float dt,
                                                  std::span<GpuGeodesicState> out) = 0;

 protected:
  Batches(Batches&&) = default;
  Batches& operator=(Batches&&) = default;
};

// What the geodesic_rk4_step kernel computes, on the CPU in f32 with its operations in the
// kernel's order: q′ = v, v′ = −|v|²·q, one classical RK4 step, not projected back onto S³.
GpuGeodesicState cpuGeodesicRk4Step(const GpuGeodesicState& y, float h) noexcept;

// The CPU reference batches: cpuPGLActionBatch and cpuFSDistanceBatch in f64, and
// cpuGeodesicRk4Step.
class CpuBatches final : public Batches {
 public:
  std::optional<std::string> pglAction(const PGL4& m, std::span<const HomVec4> in,
                                       std::span<HomVec4> out) override;
  std::optional<std::string> fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                        std::span<double> out) override;
  std::optional<std::string> geodesicStep(std::span<const GpuGeodesicState> in, float dt,
                                          std::span<GpuGeodesicState> out) override;
};

}  // namespace orv::view
