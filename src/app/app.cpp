#include "orv/app.hpp"

#include <cmath>

namespace orv {

namespace {

using Vec4 = std::array<double, 4>;

// Σ a[i]·b[i], from 0.0 in index order.
double dot4(const Vec4& a, const Vec4& b) noexcept {
  double sum = 0.0;
  for (std::size_t i = 0; i < 4; ++i)
    sum += a[i] * b[i];
  return sum;
}

// Divides v by its length unless that is at most LENGTH_FLOOR.
void normalizeInPlace(Vec4& v) noexcept {
  const double len = std::sqrt(dot4(v, v));
  if (len > LENGTH_FLOOR) {
    for (double& c : v)
      c = c / len;
  }
}

// v − (v·onto)·onto, with the dot product taken first.
void removeComponent(Vec4& v, const Vec4& onto) noexcept {
  const double d = dot4(onto, v);
  for (std::size_t i = 0; i < 4; ++i)
    v[i] = v[i] - d * onto[i];
}

// Rotates the pair (a, b) by `angle` in their plane: a ← cos·a + sin·b, b ← −sin·a + cos·b.
void rotatePair(Vec4& a, Vec4& b, double angle) noexcept {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  Vec4 new_a{};
  Vec4 new_b{};
  for (std::size_t i = 0; i < 4; ++i) {
    new_a[i] = c * a[i] + s * b[i];
    new_b[i] = (-s) * a[i] + c * b[i];
  }
  a = new_a;
  b = new_b;
}

}  // namespace

void OrvCamera::update(const InputState& input, double dt) noexcept {
  const std::array<double, 3> move_dir = input.cameraMoveDir();
  const std::array<double, 2> orbit = input.cameraOrbitDelta();
  const double step = dt * speed;

  Vec4 tangent{};
  for (std::size_t i = 0; i < 4; ++i) {
    tangent[i] = (move_dir[0] * right[i] + move_dir[1] * up[i]) + move_dir[2] * forward[i];
  }
  const double v_len =
      std::sqrt(((tangent[0] * tangent[0] + tangent[1] * tangent[1]) + tangent[2] * tangent[2]) +
                tangent[3] * tangent[3]);
  if (v_len > LENGTH_FLOOR) {
    // The great circle through pos in the direction of tangent, for an arc of v_len·step.
    const double angle = v_len * step;
    const double cos_a = std::cos(angle);
    const double sin_a = std::sin(angle);
    const double inv_len = 1.0 / v_len;
    for (std::size_t i = 0; i < 4; ++i)
      pos[i] = cos_a * pos[i] + (sin_a * tangent[i]) * inv_len;
  }

  const double yaw = (-orbit[0]) * orbit_sens;
  const double pitch = orbit[1] * orbit_sens;
  if (std::abs(yaw) > LENGTH_FLOOR) rotatePair(forward, right, yaw);
  if (std::abs(pitch) > LENGTH_FLOOR) rotatePair(forward, up, pitch);

  reorthonormalize();

  // Written so that a NaN sum also gives the floor.
  const double scrolled = speed + 0.5 * input.mouse.scroll_y;
  speed = scrolled > 0.1 ? scrolled : 0.1;
}

void OrvCamera::reorthonormalize() noexcept {
  normalizeInPlace(pos);
  removeComponent(forward, pos);
  normalizeInPlace(forward);
  removeComponent(up, pos);
  removeComponent(up, forward);
  normalizeInPlace(up);
  const Vec4& f = forward;
  const Vec4& u = up;
  right = {f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2], f[0] * u[1] - f[1] * u[0], 0.0};
  normalizeInPlace(right);
}

PGL4 OrvCamera::worldToCamera() const noexcept {
  PGL4 w;
  for (unsigned j = 0; j < 4; ++j) {
    w.set(1, j, up[j]);
    w.set(2, j, -forward[j]);
    w.set(3, j, pos[j]);
  }
  // r is the generalised cross product of the other three rows, r·v = det[v; up; −forward; pos]
  // for every v, so its components are the cofactors of row 0 and det[r; …] = r·r > 0.
  Vec4 r{};
  for (unsigned i = 0; i < 4; ++i)
    r[i] = w.cofactor(0, i);
  normalizeInPlace(r);
  for (unsigned j = 0; j < 4; ++j)
    w.set(0, j, r[j]);
  return w;
}

GpuPGL4 OrvCamera::mvpGpu(double aspect) const noexcept {
  const PGL4 view = worldToCamera();
  const double near = fs_near;
  const double far = fs_far;
  const double f = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);

  std::array<float, 16> proj{};
  proj[0] = static_cast<float>(f / aspect);
  proj[5] = static_cast<float>(f);
  proj[10] = static_cast<float>((far + near) / (near - far));
  proj[11] = -1.0f;
  proj[14] = static_cast<float>((2.0 * far) * near / (near - far));

  GpuPGL4 result;
  for (std::size_t j = 0; j < 4; ++j) {
    for (std::size_t i = 0; i < 4; ++i) {
      float sum = 0.0f;
      for (std::size_t k = 0; k < 4; ++k) {
        sum += proj[k * 4 + i] * static_cast<float>(view.data[j * 4 + k]);
      }
      result.data[j * 4 + i] = sum;
    }
  }
  return result;
}

}  // namespace orv
