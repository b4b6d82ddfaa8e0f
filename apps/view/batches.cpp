#include "view/batches.hpp"

namespace orv::view {

namespace {

// The kernel's helpers, one f32 operation each, in its order.
GpuGeodesicState rhs(const GpuGeodesicState& s) noexcept {
  const float k = s.vx * s.vx + s.vy * s.vy + s.vz * s.vz + s.vw * s.vw;
  return {s.vx, s.vy, s.vz, s.vw, -k * s.qx, -k * s.qy, -k * s.qz, -k * s.qw};
}

GpuGeodesicState add(const GpuGeodesicState& a, const GpuGeodesicState& b) noexcept {
  return {a.qx + b.qx, a.qy + b.qy, a.qz + b.qz, a.qw + b.qw,
          a.vx + b.vx, a.vy + b.vy, a.vz + b.vz, a.vw + b.vw};
}

GpuGeodesicState scale(const GpuGeodesicState& s, float k) noexcept {
  return {s.qx * k, s.qy * k, s.qz * k, s.qw * k, s.vx * k, s.vy * k, s.vz * k, s.vw * k};
}

}  // namespace

GpuGeodesicState cpuGeodesicRk4Step(const GpuGeodesicState& y, float h) noexcept {
  const GpuGeodesicState k1 = rhs(y);
  const GpuGeodesicState k2 = rhs(add(y, scale(k1, 0.5f * h)));
  const GpuGeodesicState k3 = rhs(add(y, scale(k2, 0.5f * h)));
  const GpuGeodesicState k4 = rhs(add(y, scale(k3, h)));
  const GpuGeodesicState combined = add(add(k1, scale(k2, 2.0f)), add(scale(k3, 2.0f), k4));
  return add(y, scale(combined, h / 6.0f));
}

std::optional<std::string> CpuBatches::pglAction(const PGL4& m, std::span<const HomVec4> in,
                                                 std::span<HomVec4> out) {
  cpuPGLActionBatch(m, in, out);
  return std::nullopt;
}

std::optional<std::string> CpuBatches::fsDistance(std::span<const HomVec4> in, HomVec4 reference,
                                                  std::span<double> out) {
  cpuFSDistanceBatch(in, reference, out);
  return std::nullopt;
}

std::optional<std::string> CpuBatches::geodesicStep(std::span<const GpuGeodesicState> in, float dt,
                                                    std::span<GpuGeodesicState> out) {
  const std::size_t n = std::min(in.size(), out.size());
  for (std::size_t i = 0; i < n; ++i)
    out[i] = cpuGeodesicRk4Step(in[i], dt);
  return std::nullopt;
}

}  // namespace orv::view
