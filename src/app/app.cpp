#include "orv/app.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

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

// Carries the tangent vector v at `from` along the great circle from `from` in the unit direction
// `dir` (a tangent at `from`) through `angle`: the rotation of the plane of `from` and `dir`, which
// leaves every vector orthogonal to both where it is. Parallel transport on S³.
void transport(Vec4& v, const Vec4& from, const Vec4& dir, double cos_a, double sin_a) noexcept {
  const double along = dot4(v, dir);
  for (std::size_t i = 0; i < 4; ++i)
    v[i] = v[i] + along * ((cos_a - 1.0) * dir[i] - sin_a * from[i]);
}

}  // namespace

void OrvCamera::update(const InputState& input, double dt) noexcept {
  const std::array<double, 3> move_dir = input.cameraMoveDir();
  const std::array<double, 2> orbit = input.cameraOrbitDelta();
  const double step = dt * speed;

  const Vec4 r = frameRight();
  Vec4 tangent{};
  for (std::size_t i = 0; i < 4; ++i) {
    tangent[i] = (move_dir[0] * r[i] + move_dir[1] * up[i]) + move_dir[2] * forward[i];
  }
  const double v_len =
      std::sqrt(((tangent[0] * tangent[0] + tangent[1] * tangent[1]) + tangent[2] * tangent[2]) +
                tangent[3] * tangent[3]);
  if (v_len > LENGTH_FLOOR) {
    // The great circle through pos in the direction of tangent, for an arc of v_len·step; the
    // frame travels with the position, so that it stays a frame whatever the arc (a quarter circle
    // would otherwise leave forward along the new position).
    const double angle = v_len * step;
    const double cos_a = std::cos(angle);
    const double sin_a = std::sin(angle);
    const double inv_len = 1.0 / v_len;
    Vec4 dir{};
    for (std::size_t i = 0; i < 4; ++i)
      dir[i] = tangent[i] * inv_len;
    const Vec4 from = pos;
    for (std::size_t i = 0; i < 4; ++i)
      pos[i] = cos_a * pos[i] + (sin_a * tangent[i]) * inv_len;
    transport(forward, from, dir, cos_a, sin_a);
    transport(up, from, dir, cos_a, sin_a);
  }

  const double yaw = (-orbit[0]) * orbit_sens;
  const double pitch = orbit[1] * orbit_sens;
  if (std::abs(yaw) > LENGTH_FLOOR) {
    Vec4 side = frameRight();  // of the frame at the new position
    rotatePair(forward, side, yaw);
  }
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

namespace {

// W's rows up, −forward and pos, below a row 0 of zeros.
PGL4 lowerRows(const Vec4& up, const Vec4& forward, const Vec4& pos) noexcept {
  PGL4 w;
  for (unsigned j = 0; j < 4; ++j) {
    w.set(1, j, up[j]);
    w.set(2, j, -forward[j]);
    w.set(3, j, pos[j]);
  }
  return w;
}

// r·v = det[v; up; −forward; pos] for every v: its components are the cofactors of row 0 (which
// do not depend on row 0), and det[r; up; −forward; pos] = r·r > 0.
Vec4 rightOf(const PGL4& w) noexcept {
  Vec4 r{};
  for (unsigned i = 0; i < 4; ++i)
    r[i] = w.cofactor(0, i);
  normalizeInPlace(r);
  return r;
}

}  // namespace

std::array<double, 4> OrvCamera::frameRight() const noexcept {
  return rightOf(lowerRows(up, forward, pos));
}

PGL4 OrvCamera::worldToCamera() const noexcept {
  PGL4 w = lowerRows(up, forward, pos);
  const Vec4 r = rightOf(w);
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

PictureProjection PictureProjection::of(const OrvCamera& camera, double width,
                                        double height) noexcept {
  PictureProjection p;
  p.width = width;
  p.height = height;
  p.aspect = width / height;
  p.focal = 1.0 / std::tan(CAMERA_FOV_Y / 2.0);
  p.near = camera.fs_near;
  p.far = camera.fs_far;
  return p;
}

namespace {

HomVec4 inFront(HomVec4 c) noexcept { return c.z > 0.0 ? HomVec4{-c.x, -c.y, -c.z, -c.w} : c; }

double arcOfFrontCopy(HomVec4 c) noexcept {
  return std::atan2(std::sqrt((c.x * c.x + c.y * c.y) + c.z * c.z), c.w);
}

}  // namespace

double lineOfSightArc(HomVec4 c) noexcept { return arcOfFrontCopy(inFront(c)); }

PointImage imageOfCamera(const PictureProjection& p, HomVec4 c, double rho) noexcept {
  PointImage image;
  image.c = inFront(c);
  const HomVec4 f = image.c;
  const double ahead = -f.z;
  image.x = (1.0 + (p.focal / p.aspect) * f.x / ahead) / 2.0 * p.width;
  image.y = (1.0 - p.focal * f.y / ahead) / 2.0 * p.height;
  image.t = arcOfFrontCopy(f);
  image.far = image.t > std::numbers::pi / 2.0;
  const double sin_t = std::sin(image.t);
  const double sin_rho = std::sin(rho);
  const double sin_alpha = sin_rho / sin_t;
  const double tan_alpha = sin_alpha / std::sqrt(1.0 - sin_alpha * sin_alpha);
  image.radius_px = std::max((p.height / 2.0) * p.focal * tan_alpha, MIN_POINT_RADIUS_PX);
  image.drawn = ahead > 0.0 && image.t >= p.near && image.t <= p.far && sin_t > sin_rho;
  return image;
}

PointImage imageOfPoint(const PictureProjection& p, const PGL4& world_to_camera, HomVec4 q,
                        double rho) noexcept {
  return imageOfCamera(p, world_to_camera.apply(q), rho);
}

HomVec4 cameraPointAt(const PictureProjection& p, double x, double y, double t) noexcept {
  const double u = (2.0 * x / p.width - 1.0) * p.aspect / p.focal;
  const double v = (1.0 - 2.0 * y / p.height) / p.focal;
  const double s = std::sin(t) / std::sqrt((u * u + v * v) + 1.0);
  return {s * u, s * v, -s, std::cos(t)};
}

double fogFactor(double sigma, double t) noexcept { return std::exp(-sigma * t); }

GpuPicture pictureToGpu(const OrvCamera& camera, const PictureProjection& p,
                        const PictureStyle& style) noexcept {
  const auto f = [](double x) { return static_cast<float>(x); };
  GpuPicture g;
  g.world_to_camera = pgl4ToGpu(camera.worldToCamera());
  g.lens = {f(p.focal / p.aspect), f(p.focal), f(p.width), f(p.height)};
  g.arcs = {f(p.near), f(p.far), f(style.fog), f(style.point_radius)};
  g.sizes = {f(MIN_POINT_RADIUS_PX), f(style.line_width_px / 2.0), f(style.particle_radius),
             f(style.face_shading)};
  // Depth A − S·cot(t)/k: 0 at fs_near and 1 at fs_far on the axis (k = 1).
  const double cot_near = 1.0 / std::tan(p.near);
  const double cot_far = 1.0 / std::tan(p.far);
  const double span = 1.0 / (cot_near - cot_far);
  g.depth = {f(cot_near * span), f(span), f(style.edge_lift * span), 0.0f};
  return g;
}

}  // namespace orv
