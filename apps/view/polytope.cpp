#include "view/polytope.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "view/scene_content.hpp"

namespace orv::view {

namespace {

using Index = std::uint32_t;
using Tetrahedron = std::array<Index, 4>;  // indices into the icosians, ascending

// The 600-cell: 120 vertices, each with 12 neighbours at the arc π/5 (cosine φ/2); any other
// vertex is at least π/3 away (cosine ½ at most), so the tolerance has a wide margin.
constexpr std::size_t ico_count = 120;
constexpr std::size_t ico_degree = 12;
constexpr double ico_edge_cos = std::numbers::phi / 2.0;
constexpr double cos_tolerance = 1e-9;

// Counts on S³, before antipodes are identified.
constexpr std::size_t sphere_vertices = 600;  // the 600-cell's tetrahedra
constexpr std::size_t sphere_faces = 720;     // the 600-cell's edges

HomVec4 plus(HomVec4 a, HomVec4 b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }
HomVec4 minus(HomVec4 a, HomVec4 b) noexcept {
  return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
}
HomVec4 scaled(double s, HomVec4 a) noexcept { return {s * a.x, s * a.y, s * a.z, s * a.w}; }
HomVec4 negated(HomVec4 a) noexcept { return {-a.x, -a.y, -a.z, -a.w}; }

// The unit vector along a sum of icosians, or of such sums all scaled alike (the unit centres of
// tetrahedra). Their coordinates are multiples of numbers in ½·Z[φ], so one that is not zero is
// far from it, and one that is zero but kept a rounding error is set to exactly zero: the sign of
// the first non-zero coordinate, which picks the representative, then means something.
HomVec4 unitOfSum(HomVec4 sum) noexcept {
  const double floor = 1e-12 * sum.norm();
  for (double* c : {&sum.x, &sum.y, &sum.z, &sum.w}) {
    if (std::fabs(*c) <= floor) *c = 0.0;
  }
  return sum.normalize();
}

// The 600-cell on S³: its vertices, the antipode of each, adjacency and its tetrahedra.
struct Cell600 {
  std::vector<HomVec4> points = icosians();
  std::array<Index, ico_count> antipode{};
  std::array<std::array<Index, ico_degree>, ico_count> neighbours{};  // ascending
  std::vector<std::uint8_t> adjacent = std::vector<std::uint8_t>(ico_count * ico_count, 0);
  std::vector<Tetrahedron> tetrahedra;  // in lexicographic order

  Cell600() {
    for (Index i = 0; i < ico_count; ++i) {
      std::size_t degree = 0;
      for (Index j = 0; j < ico_count; ++j) {
        const double d = HomVec4::dot(points[i], points[j]);
        if (d < -1.0 + cos_tolerance) antipode[i] = j;
        if (std::fabs(d - ico_edge_cos) < cos_tolerance && degree < ico_degree) {
          neighbours[i][degree++] = j;
          adjacent[i * ico_count + j] = 1;
        }
      }
    }
    // Four mutually adjacent vertices, found from the lowest; the loops run in ascending order,
    // so the list comes out sorted.
    tetrahedra.reserve(sphere_vertices);
    for (Index a = 0; a < ico_count; ++a) {
      for (const Index b : neighbours[a]) {
        if (b < a) continue;
        for (const Index c : neighbours[a]) {
          if (c < b || !joined(b, c)) continue;
          for (const Index d : neighbours[a]) {
            if (d < c || !joined(b, d) || !joined(c, d)) continue;
            tetrahedra.push_back({a, b, c, d});
          }
        }
      }
    }
  }

  bool joined(Index a, Index b) const noexcept { return adjacent[a * ico_count + b] != 0; }

  // The index of the tetrahedron with these four vertices, in any order.
  Index find(Tetrahedron t) const noexcept {
    std::sort(t.begin(), t.end());
    return static_cast<Index>(std::lower_bound(tetrahedra.begin(), tetrahedra.end(), t) -
                              tetrahedra.begin());
  }

  // The vertex other than `apart` that is adjacent to all of a, b and c: the fourth vertex of the
  // other tetrahedron on the triangle abc.
  Index across(Index a, Index b, Index c, Index apart) const noexcept {
    for (const Index x : neighbours[a]) {
      if (x != apart && joined(x, b) && joined(x, c)) return x;
    }
    return apart;
  }

  // The five common neighbours of the adjacent vertices a and b, in order around the edge ab:
  // each is adjacent to the next.
  std::array<Index, 5> ringAround(Index a, Index b) const noexcept {
    std::array<Index, 5> common{};
    std::size_t n = 0;
    for (const Index x : neighbours[a]) {
      if (joined(x, b) && n < common.size()) common[n++] = x;
    }
    std::array<Index, 5> ring{common[0]};
    std::array<bool, 5> used{true};
    for (std::size_t k = 1; k < ring.size(); ++k) {
      for (std::size_t m = 0; m < common.size(); ++m) {
        if (!used[m] && joined(ring[k - 1], common[m])) {
          ring[k] = common[m];
          used[m] = true;
          break;
        }
      }
    }
    return ring;
  }
};

}  // namespace

bool isCanonical(HomVec4 v) noexcept {
  for (const double c : {v.x, v.y, v.z, v.w}) {
    if (c != 0.0) return c > 0.0;
  }
  return false;
}

Polytope120 regular120Cell() {
  const Cell600 cell600;
  const std::vector<Tetrahedron>& tetrahedra = cell600.tetrahedra;

  // Each tetrahedron's centre is a vertex; of a tetrahedron and its antipode, the one whose centre
  // is canonical gets the next index, and the other the same index with the opposite sign.
  Polytope120 p;
  p.vertices.reserve(sphere_vertices / 2);
  std::vector<Index> index_of(tetrahedra.size(), 0);
  std::vector<double> sign_of(tetrahedra.size(), 1.0);
  std::vector<Index> kept;  // the tetrahedron of each vertex
  kept.reserve(sphere_vertices / 2);
  for (std::size_t t = 0; t < tetrahedra.size(); ++t) {
    HomVec4 sum{};
    for (const Index v : tetrahedra[t])
      sum = plus(sum, cell600.points[v]);
    const HomVec4 centre = unitOfSum(sum);
    if (!isCanonical(centre)) continue;
    const Tetrahedron& q = tetrahedra[t];
    const Index opposite = cell600.find({cell600.antipode[q[0]], cell600.antipode[q[1]],
                                         cell600.antipode[q[2]], cell600.antipode[q[3]]});
    const auto index = static_cast<Index>(p.vertices.size());
    p.vertices.push_back(centre);
    kept.push_back(static_cast<Index>(t));
    index_of[t] = index;
    index_of[opposite] = index;
    sign_of[opposite] = -1.0;
  }

  // The four neighbours of a vertex are the tetrahedra across its four triangles; each edge is
  // listed from its lower end.
  p.edges.reserve(sphere_vertices);
  for (Index a = 0; a < kept.size(); ++a) {
    const Tetrahedron& q = tetrahedra[kept[a]];
    for (std::size_t apart = 0; apart < 4; ++apart) {
      std::array<Index, 3> tri{};
      for (std::size_t k = 0, n = 0; k < 4; ++k) {
        if (k != apart) tri[n++] = q[k];
      }
      const Index other = cell600.across(tri[0], tri[1], tri[2], q[apart]);
      const Index b = index_of[cell600.find({tri[0], tri[1], tri[2], other})];
      if (a < b) p.edges.push_back({a, b});
    }
  }
  std::sort(p.edges.begin(), p.edges.end());

  // A face for each edge ab of the 600-cell: the centres of the five tetrahedra around it, which
  // lie in the plane orthogonal to a + b; the face between the cells centred on a and b.
  p.faces.reserve(sphere_faces / 2);
  for (Index a = 0; a < ico_count; ++a) {
    for (const Index b : cell600.neighbours[a]) {
      if (b < a) continue;
      const std::array<Index, 5> ring = cell600.ringAround(a, b);
      Polytope120::Face face{};
      HomVec4 sum{};
      for (std::size_t k = 0; k < ring.size(); ++k) {
        const Index t = cell600.find({a, b, ring[k], ring[(k + 1) % ring.size()]});
        face.vertex[k] = index_of[t];
        const HomVec4 v = p.vertices[index_of[t]];
        face.corners[k] = sign_of[t] > 0.0 ? v : negated(v);
        sum = plus(sum, face.corners[k]);
      }
      face.centre = unitOfSum(sum);
      if (!isCanonical(face.centre)) continue;
      face.cells = {cell600.points[a], cell600.points[b]};
      p.faces.push_back(face);
    }
  }

  p.cell_centres.reserve(ico_count / 2);
  for (const HomVec4& q : cell600.points) {
    if (isCanonical(q)) p.cell_centres.push_back(q);
  }
  return p;
}

void appendFaceFrame(const Polytope120::Face& face, double opening, std::vector<HomVec4>& out) {
  const std::array<HomVec4, 5>& outer = face.corners;
  HomVec4 sum{};
  for (const HomVec4& c : outer)
    sum = plus(sum, c);
  const HomVec4 middle = scaled(1.0 / 5.0, sum);
  std::array<HomVec4, 5> inner{};
  for (std::size_t k = 0; k < outer.size(); ++k)
    inner[k] = plus(middle, scaled(opening, minus(outer[k], middle)));
  // Each side of the pentagon and the opening's side facing it bound a trapezoid, cut along a
  // diagonal; both triangles turn the way the corners do.
  for (std::size_t k = 0; k < outer.size(); ++k) {
    const std::size_t next = (k + 1) % outer.size();
    for (const HomVec4& c : {outer[k], outer[next], inner[next], outer[k], inner[next], inner[k]})
      out.push_back(c);
  }
}

}  // namespace orv::view
