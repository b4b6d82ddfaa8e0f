// What the frame loop shows: the points, edges and faces of a scene file, or the default scene,
// as the vertex lists that are uploaded to the device once; how they are drawn (fog, the radius
// of the points' spheres); and the default scene's moving particles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orv/app.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"
#include "view/mesh_placement.hpp"
#include "view/particles.hpp"
#include "view/scene_file.hpp"

namespace orv::view {

// The static vertex lists of a picture (webgpu::SceneGeometry's layout).
struct SceneLists {
  std::vector<GpuVertex> points;
  std::vector<GpuVertex> edges;      // two per edge
  std::vector<GpuVertex> triangles;  // three per face

  void addPoint(HomVec4 q, const Colour& colour);
  // The chord between a and the representative of b on a's side (a·b ≥ 0): the shorter arc.
  void addEdge(HomVec4 a, HomVec4 b, const Colour& colour_a, const Colour& colour_b);
  // The flat triangle between a and the representatives of b and c on a's side (where a side is a
  // quarter circle, on the side of the third point); its sides are the shorter arcs whenever
  // (a·b)(b·c)(c·a) ≥ 0, as for a scene file's triangles.
  void addTriangle(HomVec4 a, HomVec4 b, HomVec4 c, const Colour& colour);

  webgpu::SceneGeometry geometry() const noexcept { return {points, edges, triangles}; }
};

struct ViewScene {
  SceneLists lists;
  PictureStyle style;
  CpuParticles particles;  // none for a scene file
  std::vector<PlacedMesh> meshes;
  std::vector<SceneLight> lights;
  double ambient = default_ambient;
};

// The models of a scene's meshes, models[i] that of scene.meshes[i] (one model may serve several).
using SceneModelList = std::vector<std::shared_ptr<const assets::Model>>;
using SceneModels = std::span<const std::shared_ptr<const assets::Model>>;

// A scene file's points, edges (blending their ends' colours), triangles and meshes (placed, with
// their models), with its fog, point radius and light.
ViewScene fileScene(const Scene& scene, SceneModels models);
// The same without its meshes (mesh_placement.cpp places them; a page has no models to place).
ViewScene fileScene(const Scene& scene);

// The 120 unit icosians: the vertices of the 600-cell inscribed in S³, in the order (±1, 0, 0, 0)
// and its permutations, (±½, ±½, ±½, ±½), then the even permutations of ½(±φ, ±1, ±1/φ, 0).
std::vector<HomVec4> icosians();

// The default scene: the 120-cell, whose 60 dodecahedral cells tile all of elliptic space, so that
// wherever the camera flies it is inside one of them. Each pentagonal face is a frame around a
// window (default_opening of its size), so that the eye sees through cell after cell, out to the
// far images; its edges and corners are drawn, and fog dims what is far. The camera starts at the
// centre of a cell, looking out through one of its windows, a little off its axis. 300 particles
// move along great circles of their own (random places and directions from a fixed seed, angular
// speeds between 0.15 and 0.45 rad/s), coloured by their distance from the eye.
struct DefaultScene {
  static constexpr std::size_t particle_count = 300;
  static constexpr double opening = 0.8;
  static constexpr double fog = 0.55;
  static constexpr double corner_radius = 0.007;
  static constexpr double particle_radius = 0.012;
  static constexpr double face_shading = 0.6;
  static constexpr Colour edge_colour{0.92f, 0.94f, 1.0f};
  static constexpr Colour corner_colour{1.0f, 0.96f, 0.85f};
};

ViewScene defaultScene();

// The frame colour of a face with this centre: pale tints that differ from face to face.
Colour faceColour(HomVec4 centre) noexcept;

}  // namespace orv::view
