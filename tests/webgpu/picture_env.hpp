// What the tests of the picture pass share: cameras flown to where a test needs them, points
// placed on lines of sight by the CPU rule, and the measures of a picture (blobs of one colour,
// coverage of a channel).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {

constexpr double pi = std::numbers::pi;

using Colour = std::array<float, 3>;

inline GpuVertex vertex(HomVec4 q, const Colour& c) {
  return {homVec4ToGpu(q), {c[0], c[1], c[2], 1.0f}};
}

// A camera that turned by (dx, dy) of mouse motion and then flew `arc` radians forward in steps
// of at most 0.05 rad (the frame loop's rule: update, then clear the deltas).
inline OrvCamera flown(double arc, double dx = 0.0, double dy = 0.0) {
  OrvCamera cam{};
  InputState turn{};
  turn.camera_orbit = true;
  turn.mouse.dx = dx;
  turn.mouse.dy = dy;
  cam.update(turn, 0.0);
  InputState ahead{};
  ahead.camera_move_forward = true;
  const int steps = static_cast<int>(std::ceil(arc / 0.05));
  for (int i = 0; i < steps; ++i)
    cam.update(ahead, arc / steps / cam.speed);
  return cam;
}

// The world point whose camera coordinates are c for `cam` (W is orthogonal: Wᵀ maps back).
inline HomVec4 worldOf(const OrvCamera& cam, HomVec4 c) {
  return cam.worldToCamera().transpose().apply(c);
}

// Camera coordinates of the unit point `t` radians along the line of sight through normalised
// device coordinates (x, y) of a picture with this aspect: t < π/2 is seen as a near image,
// t > π/2 as the far image of a point behind the camera.
inline HomVec4 along(double x, double y, double t, double aspect) {
  const PictureProjection p = PictureProjection::of(OrvCamera{}, aspect, 1.0);
  return cameraPointAt(p, (1.0 + x) / 2.0 * aspect, (1.0 - y) / 2.0, t);
}

inline HomVec4 negated(HomVec4 q) { return {-q.x, -q.y, -q.z, -q.w}; }

// Pixels of one colour (each channel within ±2 of its 8-bit value): how many and their centroid.
struct Blob {
  std::size_t count = 0;
  double x = 0.0;
  double y = 0.0;
};

inline std::array<int, 3> bytesOf(const Colour& c) {
  return {static_cast<int>(std::lround(c[0] * 255.0f)),
          static_cast<int>(std::lround(c[1] * 255.0f)),
          static_cast<int>(std::lround(c[2] * 255.0f))};
}

inline Blob findColour(const Image& image, const Colour& colour) {
  const std::array<int, 3> rgb = bytesOf(colour);
  Blob b;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const auto p = image.pixel(x, y);
      bool match = true;
      for (std::size_t c = 0; c < 3; ++c)
        match = match && std::abs(int{p[c]} - rgb[c]) <= 2;
      if (!match) continue;
      ++b.count;
      b.x += x + 0.5;
      b.y += y + 0.5;
    }
  }
  if (b.count > 0) {
    b.x /= static_cast<double>(b.count);
    b.y /= static_cast<double>(b.count);
  }
  return b;
}

// The coverage of one channel (value / 255) summed over the picture, and its weighted centroid: a
// primitive of a pure colour drawn over black, antialiased by the target's samples.
inline Blob coverage(const Image& image, std::size_t channel) {
  Blob b;
  double sum = 0.0;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const double k = image.pixel(x, y)[channel] / 255.0;
      sum += k;
      b.x += k * (x + 0.5);
      b.y += k * (y + 0.5);
    }
  }
  b.count = static_cast<std::size_t>(std::lround(sum));
  if (sum > 0) {
    b.x /= sum;
    b.y /= sum;
  }
  return b;
}

}  // namespace orv::webgpu::test
