// The regular 120-cell inscribed in S³, built once for the default scene: its vertices, edges,
// pentagonal faces and dodecahedral cells, and each face drawn as a frame around a window.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "orv/kernel.hpp"

namespace orv::view {

// The regular 120-cell inscribed in S³, in elliptic space: every element of S³ and its antipode
// are one element, so the 600 vertices are 300 points, the 1200 edges 600, the 720 pentagonal
// faces 360 and the 120 dodecahedral cells 60.
//
// The edge arc is acos((1 + 3√5)/8) ≈ 0.2709 rad (chord 1/(φ²·√2)); a face's centre is π/10 from
// the centres of its two cells. Vertices and cell centres are kept as the representatives whose
// first non-zero coordinate is positive. Every 4-vector here has unit length.
struct Polytope120 {
  std::vector<HomVec4> vertices;                    // 300 unit representatives
  std::vector<std::array<std::uint32_t, 2>> edges;  // 600: indices into vertices, a < b, sorted

  // One pentagonal face. `corners` are its five corners in cyclic order around the pentagon, as
  // the unit 4-vectors that are the corners of one flat regular pentagon in R⁴ (a 2-face of the
  // convex polytope; all their dot products are positive); corners[k] = ±vertices[vertex[k]].
  // `centre` is the normalised sum of the corners; `cells` are the centres of the two cells that
  // share the face, as the representatives on the side of `centre` (positive dot product).
  struct Face {
    std::array<HomVec4, 5> corners;
    std::array<std::uint32_t, 5> vertex;
    HomVec4 centre;
    std::array<HomVec4, 2> cells;
  };
  std::vector<Face> faces;            // 360
  std::vector<HomVec4> cell_centres;  // 60 unit representatives
};

// Whether v is the representative kept of the projective point ±v: its first non-zero coordinate
// is positive (false for the zero vector).
bool isCanonical(HomVec4 v) noexcept;

// Builds the 120-cell as the dual of the 600-cell of the unit icosians: the 600-cell's
// tetrahedra's centres are the vertices, tetrahedra sharing a triangle give the edges, the five
// tetrahedra around a 600-cell edge a face, the twenty around a 600-cell vertex a cell centred on
// it. Allocates only the result and its own scratch.
Polytope120 regular120Cell();

// The face's pentagon with a concentric pentagonal opening: the inner corners are the outer ones
// moved towards the centre in R⁴ (centre_chord + opening·(corner − centre_chord), with
// centre_chord the mean of the five corners, so the opening lies in the face's plane), for
// 0 < opening < 1. Appends the frame as 10 triangles (30 corners, each triangle's corners in
// order, all turning the same way round in the face's plane) to `out`; allocates only when `out`
// has to grow.
void appendFaceFrame(const Polytope120::Face& face, double opening, std::vector<HomVec4>& out);

}  // namespace orv::view
