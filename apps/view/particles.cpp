#include "view/particles.hpp"

#include <array>
#include <cmath>

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

double dot4(const std::array<double, 4>& a, const std::array<double, 4>& b) noexcept {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

double widen(float x) noexcept { return static_cast<double>(x); }

}  // namespace

GpuGeodesicState cpuGeodesicRk4Step(const GpuGeodesicState& y, float h) noexcept {
  const GpuGeodesicState k1 = rhs(y);
  const GpuGeodesicState k2 = rhs(add(y, scale(k1, 0.5f * h)));
  const GpuGeodesicState k3 = rhs(add(y, scale(k2, 0.5f * h)));
  const GpuGeodesicState k4 = rhs(add(y, scale(k3, h)));
  const GpuGeodesicState combined = add(add(k1, scale(k2, 2.0f)), add(scale(k3, 2.0f), k4));
  return add(y, scale(combined, h / 6.0f));
}

GpuGeodesicState projectState(const GpuGeodesicState& s, double speed) noexcept {
  std::array<double, 4> q{widen(s.qx), widen(s.qy), widen(s.qz), widen(s.qw)};
  std::array<double, 4> v{widen(s.vx), widen(s.vy), widen(s.vz), widen(s.vw)};
  const double qn = std::sqrt(dot4(q, q));
  if (!(qn > 0.0) || !std::isfinite(qn)) return s;
  for (double& x : q)
    x /= qn;
  const double along = dot4(q, v);
  for (std::size_t i = 0; i < 4; ++i)
    v[i] -= along * q[i];
  const double vn = std::sqrt(dot4(v, v));
  if (vn > 0.0 && std::isfinite(vn)) {
    for (double& x : v)
      x = x / vn * speed;
  }
  const auto f = [](double x) { return static_cast<float>(x); };
  return {f(q[0]), f(q[1]), f(q[2]), f(q[3]), f(v[0]), f(v[1]), f(v[2]), f(v[3])};
}

CpuParticles::CpuParticles(std::vector<GpuGeodesicState> states, std::vector<float> speeds)
    : states_(std::move(states)),
      speeds_(std::move(speeds)),
      positions_(states_.size()),
      points_(states_.size()),
      measured_(states_.size()),
      distances_(states_.size()) {
  speeds_.resize(states_.size());
}

void CpuParticles::step(float dt, HomVec4 eye) noexcept {
  for (std::size_t i = 0; i < states_.size(); ++i) {
    states_[i] = projectState(cpuGeodesicRk4Step(states_[i], dt), widen(speeds_[i]));
    const GpuGeodesicState& s = states_[i];
    positions_[i] = {s.qx, s.qy, s.qz, s.qw};
    points_[i] = {widen(s.qx), widen(s.qy), widen(s.qz), widen(s.qw)};
  }
  cpuFSDistanceBatch(points_, eye, measured_);
  for (std::size_t i = 0; i < measured_.size(); ++i)
    distances_[i] = static_cast<float>(measured_[i]);
}

}  // namespace orv::view
