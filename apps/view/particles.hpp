// The default scene's particles on the CPU: points moving along great circles of S³ in f32, put
// back onto S³ each frame in f64, and their distances from the eye. This is what F2 switches the
// frame loop to, and what the device's kernels (webgpu::Particles) are compared with.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "orv/gpu.hpp"
#include "orv/kernel.hpp"

namespace orv::view {

// What the geodesic_rk4_step kernel computes, on the CPU in f32 with its operations in the
// kernel's order: q′ = v, v′ = −|v|²·q, one classical RK4 step, not projected back onto S³.
GpuGeodesicState cpuGeodesicRk4Step(const GpuGeodesicState& y, float h) noexcept;

// The state put back onto S³ (q normalised) with v in its tangent space and of length `speed`,
// computed in f64 and rounded once to f32 (what geodesic_project does on the device in f32). A
// state whose q is zero or not finite is returned as it is.
GpuGeodesicState projectState(const GpuGeodesicState& s, double speed) noexcept;

class CpuParticles {
 public:
  CpuParticles() = default;
  // `speeds[i]` is the angular speed particle i keeps; as many as `states`.
  CpuParticles(std::vector<GpuGeodesicState> states, std::vector<float> speeds);

  std::size_t size() const noexcept { return states_.size(); }

  // One frame: every state one RK4 step of dt on, back onto S³ with its speed, and its
  // Fubini–Study distance from `eye` (cpuFSDistanceBatch in f64). Allocates nothing.
  void step(float dt, HomVec4 eye) noexcept;

  // The current states; writable, so that the device's states can be taken over.
  std::span<GpuGeodesicState> states() noexcept { return states_; }
  std::span<const GpuGeodesicState> states() const noexcept { return states_; }
  std::span<const float> speeds() const noexcept { return speeds_; }
  // Of the last step (zero before the first).
  std::span<const GpuHomVec4> positions() const noexcept { return positions_; }
  std::span<const float> distances() const noexcept { return distances_; }

 private:
  std::vector<GpuGeodesicState> states_;
  std::vector<float> speeds_;
  std::vector<GpuHomVec4> positions_;
  std::vector<HomVec4> points_;  // the positions widened to f64
  std::vector<double> measured_;
  std::vector<float> distances_;
};

}  // namespace orv::view
