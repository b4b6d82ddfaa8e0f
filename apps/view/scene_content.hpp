// What the frame loop shows: the points and edges of a scene file, or the default scene.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orv/gpu.hpp"
#include "view/batches.hpp"
#include "view/scene_file.hpp"
#include "view/view_geometry.hpp"

namespace orv::view {

class SceneContent {
 public:
  SceneContent() = default;
  SceneContent(const SceneContent&) = delete;
  SceneContent& operator=(const SceneContent&) = delete;
  virtual ~SceneContent() = default;

  // Brings the draw list to the next frame: moves what moves by `dt` seconds and recolours what
  // depends on the eye, with `batches` doing the work. Allocates nothing.
  virtual std::optional<std::string> advance(Batches& batches, float dt, HomVec4 eye) = 0;
  virtual const DrawList& drawList() const noexcept = 0;

 protected:
  SceneContent(SceneContent&&) = default;
  SceneContent& operator=(SceneContent&&) = default;
};

// A scene file's points and edges, in their own colours; nothing moves.
class FileScene final : public SceneContent {
 public:
  explicit FileScene(const Scene& scene);
  std::optional<std::string> advance(Batches&, float, HomVec4) override { return std::nullopt; }
  const DrawList& drawList() const noexcept override { return list_; }

 private:
  DrawList list_;
};

// The 120 unit icosians: the vertices of the 600-cell inscribed in S³, in the order (±1, 0, 0, 0)
// and its permutations, (±½, ±½, ±½, ±½), then the even permutations of ½(±φ, ±1, ±1/φ, 0).
std::vector<HomVec4> icosians();

// The colour of a point at Fubini–Study distance `d` (radians, [0, π/2]) from the eye: warm yellow
// near, red at π/4, blue far; clamped outside the range.
Colour distanceColour(double d) noexcept;

// The default scene: the 600-cell's vertices and edges, which tile all of S³ so that its geometry
// shows wherever the camera flies, and particles moving along great circles.
//
// In projective space q and −q are one point, so the 120 vertices are 60 points and the 720 edges
// 360 (the representatives kept have their first non-zero coordinate positive); each point has 12
// neighbours at the edge arc π/5. The particles start at random places with random directions
// and angular speeds between 0.15 and 0.45 rad/s (a fixed seed, so every run is the same); each
// frame the RK4 batch advances them, their states are projected back onto S³ and its tangent
// space (f32 rounding would otherwise drift), and the distance batch colours them by their
// distance from the eye. The same batch gives the polytope's points their distances: the polytope
// is drawn bright near the eye and fading towards the far cut, its edges blending the colours of
// their ends, so that depth reads at a glance.
class DefaultScene final : public SceneContent {
 public:
  static constexpr std::size_t polytope_points = 60;
  static constexpr std::size_t particle_count = 300;
  // The polytope's colour next to the eye; it fades to a third of it at the far cut.
  static constexpr Colour polytope_colour{0.62f, 0.78f, 1.00f};

  DefaultScene();
  std::optional<std::string> advance(Batches& batches, float dt, HomVec4 eye) override;
  const DrawList& drawList() const noexcept override { return list_; }

  std::span<const GpuGeodesicState> particles() const noexcept { return states_; }

 private:
  DrawList list_;  // the polytope's points first, then the particles
  std::vector<GpuGeodesicState> states_;
  std::vector<GpuGeodesicState> next_;
  std::vector<float> speeds_;      // each particle's angular speed, kept through the projection
  std::vector<double> distances_;  // of every point of list_, from the eye
};

}  // namespace orv::view
