// The 120-cell of the default scene: its counts, metric and incidences in elliptic space, each face
// a flat regular pentagon that is a 2-face of the convex polytope, and the face frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <set>

#include "allocation_count.hpp"
#include "view/polytope.hpp"

namespace orv::view {
namespace {

constexpr double phi = std::numbers::phi;
// For unit circumradius the edge chord is 1/(φ²·√2), so cos(edge arc) = 1 − chord²/2 =
// 1 − 1/(4φ⁴) = (1 + 3√5)/8 and the arc is about 0.27091 rad.
const double edge_chord = 1.0 / (phi * phi * std::numbers::sqrt2);
const double edge_cos = (1.0 + 3.0 * std::sqrt(5.0)) / 8.0;
// A cell's centre is a vertex of the 600-cell and a face's centre the midpoint of a 600-cell edge
// (arc π/5), so each cell is π/10 from the face.
const double cell_cos = std::cos(std::numbers::pi / 10.0);
constexpr double tol = 1e-12;

HomVec4 add(HomVec4 a, HomVec4 b) { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }
HomVec4 sub(HomVec4 a, HomVec4 b) { return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w}; }
HomVec4 mul(double s, HomVec4 a) { return {s * a.x, s * a.y, s * a.z, s * a.w}; }
HomVec4 neg(HomVec4 a) { return mul(-1.0, a); }
double dot(HomVec4 a, HomVec4 b) { return HomVec4::dot(a, b); }
double dist(HomVec4 a, HomVec4 b) { return sub(a, b).norm(); }

const Polytope120& cell() {
  static const Polytope120 p = regular120Cell();
  return p;
}

HomVec4 mean(const std::array<HomVec4, 5>& corners) {
  HomVec4 sum{};
  for (const HomVec4& c : corners)
    sum = add(sum, c);
  return mul(0.2, sum);
}

bool firstNonZeroPositive(HomVec4 v) {
  for (const double c : {v.x, v.y, v.z, v.w}) {
    if (c != 0.0) return c > 0.0;
  }
  return false;
}

// An orthonormal basis of the face's plane through the mean of its corners, and coordinates in it.
struct FacePlane {
  HomVec4 origin, e1, e2;

  explicit FacePlane(const std::array<HomVec4, 5>& corners) : origin(mean(corners)) {
    e1 = sub(corners[0], origin);
    e1 = mul(1.0 / e1.norm(), e1);
    e2 = sub(corners[1], origin);
    e2 = sub(e2, mul(dot(e2, e1), e1));
    e2 = mul(1.0 / e2.norm(), e2);
  }
  std::array<double, 2> coords(HomVec4 p) const {
    const HomVec4 d = sub(p, origin);
    return {dot(d, e1), dot(d, e2)};
  }
  // How far p is from the plane.
  double offset(HomVec4 p) const {
    const std::array<double, 2> uv = coords(p);
    return sub(sub(p, origin), add(mul(uv[0], e1), mul(uv[1], e2))).norm();
  }
};

using Point2 = std::array<double, 2>;

double cross(Point2 o, Point2 a, Point2 b) {
  return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

TEST(Polytope120, CountsInEllipticSpace) {
  const Polytope120& p = cell();
  const struct {
    const char* what;
    std::size_t count, expected;
  } rows[] = {{"vertices", p.vertices.size(), 300},
              {"edges", p.edges.size(), 600},
              {"faces", p.faces.size(), 360},
              {"cells", p.cell_centres.size(), 60}};
  for (const auto& row : rows)
    EXPECT_EQ(row.count, row.expected) << row.what;
}

TEST(Polytope120, EveryVectorIsUnitAndRepresentativesAreCanonical) {
  const Polytope120& p = cell();
  const double ulps = 4.0 * std::numeric_limits<double>::epsilon();
  std::vector<HomVec4> all = p.vertices;
  all.insert(all.end(), p.cell_centres.begin(), p.cell_centres.end());
  for (const Polytope120::Face& f : p.faces) {
    all.insert(all.end(), f.corners.begin(), f.corners.end());
    all.insert(all.end(), f.cells.begin(), f.cells.end());
    all.push_back(f.centre);
  }
  for (const HomVec4& v : all)
    EXPECT_NEAR(v.norm(), 1.0, ulps);
  for (const HomVec4& v : p.vertices)
    EXPECT_TRUE(firstNonZeroPositive(v));
  for (const HomVec4& v : p.cell_centres)
    EXPECT_TRUE(firstNonZeroPositive(v));
}

TEST(Polytope120, EdgesAreExactlyThePairsAtTheEdgeArcAndEachVertexHasFour) {
  const Polytope120& p = cell();
  const std::size_t n = p.vertices.size();
  std::set<std::pair<std::uint32_t, std::uint32_t>> edges;
  std::vector<int> degree(n, 0);
  for (const auto& [a, b] : p.edges) {
    ASSERT_LT(a, b);
    ASSERT_LT(b, n);
    EXPECT_TRUE(edges.insert({a, b}).second) << a << " " << b;
    ++degree[a];
    ++degree[b];
    // The representatives' nearer copies: the elliptic distance.
    const double c = std::fabs(dot(p.vertices[a], p.vertices[b]));
    EXPECT_NEAR(c, edge_cos, tol);
    EXPECT_NEAR(std::sqrt(2.0 - 2.0 * c), edge_chord, tol);
  }
  for (std::size_t i = 0; i < n; ++i)
    EXPECT_EQ(degree[i], 4) << i;
  // The nearest other pairs are the faces' diagonals, φ times the edge chord: the arc 0.4406 rad,
  // cosine (5 + √5)/8.
  const double diagonal = phi * edge_chord;
  double nearest_other = 0.0;
  for (std::uint32_t i = 0; i < n; ++i) {
    for (std::uint32_t j = i + 1; j < n; ++j) {
      if (edges.count({i, j}) == 0)
        nearest_other = std::max(nearest_other, std::fabs(dot(p.vertices[i], p.vertices[j])));
    }
  }
  EXPECT_NEAR(nearest_other, 1.0 - diagonal * diagonal / 2.0, tol);
  EXPECT_NEAR(nearest_other, (5.0 + std::sqrt(5.0)) / 8.0, tol);
}

TEST(Polytope120, FacesAreFlatRegularPentagonsOfEdges) {
  const Polytope120& p = cell();
  std::set<std::pair<std::uint32_t, std::uint32_t>> edges;
  for (const auto& [a, b] : p.edges)
    edges.insert({a, b});
  for (const Polytope120::Face& f : p.faces) {
    const HomVec4 middle = mean(f.corners);
    const double height = middle.norm();
    for (std::size_t k = 0; k < 5; ++k) {
      const HomVec4 c = f.corners[k];
      const HomVec4 next = f.corners[(k + 1) % 5];
      ASSERT_LT(f.vertex[k], p.vertices.size());
      const HomVec4 v = p.vertices[f.vertex[k]];
      EXPECT_TRUE(c == v || c == neg(v)) << k;
      const std::uint32_t a = std::min(f.vertex[k], f.vertex[(k + 1) % 5]);
      const std::uint32_t b = std::max(f.vertex[k], f.vertex[(k + 1) % 5]);
      EXPECT_EQ(edges.count({a, b}), 1u) << k;
      for (const HomVec4& other : f.corners)
        EXPECT_GT(dot(c, other), 0.0);
      // Sides at the edge chord, diagonals φ times longer: a regular pentagon, not a pentagram.
      EXPECT_NEAR(dot(c, next), edge_cos, tol);
      EXPECT_NEAR(dist(c, next), edge_chord, tol);
      EXPECT_NEAR(dist(c, f.corners[(k + 2) % 5]), phi * edge_chord, tol);
      // The centre is normal to the face's plane at its circumcentre.
      EXPECT_NEAR(dot(f.centre, sub(c, middle)), 0.0, tol);
      EXPECT_NEAR(dist(c, middle), dist(f.corners[0], middle), tol);
    }
    EXPECT_LT(dist(f.centre, mul(1.0 / height, middle)), tol);
    // The affine span of the five corners is a plane.
    const FacePlane plane(f.corners);
    for (const HomVec4& c : f.corners)
      EXPECT_LT(plane.offset(c), tol);
    EXPECT_GT(dist(f.corners[1], plane.origin), 0.1);
    // A 2-face of the convex polytope: the hyperplane x·centre = |middle| bounds all 600 vertices
    // of S³ and holds these five only.
    int on_plane = 0;
    for (const HomVec4& v : p.vertices) {
      for (const double s : {1.0, -1.0}) {
        const double h = s * dot(v, f.centre);
        EXPECT_LT(h, height + tol);
        if (h > height - tol) ++on_plane;
      }
    }
    EXPECT_EQ(on_plane, 5);
  }
}

TEST(Polytope120, EachFaceLiesBetweenTwoCellsAndEachCellHasTwelveFaces) {
  const Polytope120& p = cell();
  std::vector<int> faces_of(p.cell_centres.size(), 0);
  double corner_cos = 0.0;  // from a cell's centre to its vertices, the same for every cell
  for (const Polytope120::Face& f : p.faces) {
    for (const HomVec4& c : f.cells) {
      EXPECT_NEAR(dot(c, f.centre), cell_cos, tol);
      const auto hit = std::find_if(p.cell_centres.begin(), p.cell_centres.end(),
                                    [&](HomVec4 q) { return q == c || q == neg(c); });
      ASSERT_NE(hit, p.cell_centres.end());
      ++faces_of[static_cast<std::size_t>(hit - p.cell_centres.begin())];
      for (const HomVec4& corner : f.corners) {
        if (corner_cos == 0.0) corner_cos = dot(c, corner);
        EXPECT_NEAR(dot(c, corner), corner_cos, tol);
      }
    }
    // On opposite sides: their offsets from the centre cancel.
    const HomVec4 apart = sub(add(f.cells[0], f.cells[1]), mul(2.0 * cell_cos, f.centre));
    EXPECT_LT(apart.norm(), tol);
  }
  for (std::size_t i = 0; i < faces_of.size(); ++i)
    EXPECT_EQ(faces_of[i], 12) << i;
}

TEST(Polytope120, NoFaceIsRepeated) {
  const Polytope120& p = cell();
  std::set<std::array<std::uint32_t, 5>> vertex_sets;
  for (const Polytope120::Face& f : p.faces) {
    std::array<std::uint32_t, 5> sorted = f.vertex;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
    EXPECT_TRUE(vertex_sets.insert(sorted).second);
  }
  for (std::size_t i = 0; i < p.faces.size(); ++i) {
    for (std::size_t j = i + 1; j < p.faces.size(); ++j)
      EXPECT_LT(std::fabs(dot(p.faces[i].centre, p.faces[j].centre)), 1.0 - 1e-3) << i << " " << j;
  }
}

TEST(Polytope120, FaceFramesCoverThePentagonLessItsOpening) {
  const Polytope120& p = cell();
  for (const double opening : {0.15, 0.5, 0.85}) {
    for (std::size_t i = 0; i < p.faces.size(); ++i) {
      const Polytope120::Face& f = p.faces[i];
      std::vector<HomVec4> out{HomVec4{1.0, 2.0, 3.0, 4.0}};
      out.reserve(31);
      const std::size_t before = test::allocationsSoFar();
      appendFaceFrame(f, opening, out);
      ASSERT_EQ(test::allocationsSoFar(), before);
      ASSERT_EQ(out.size(), 31u);
      EXPECT_EQ(out[0], (HomVec4{1.0, 2.0, 3.0, 4.0}));

      const FacePlane plane(f.corners);
      std::array<Point2, 5> outer{}, inner{};
      for (std::size_t k = 0; k < 5; ++k) {
        outer[k] = plane.coords(f.corners[k]);
        inner[k] = {opening * outer[k][0], opening * outer[k][1]};
      }
      const double pentagon = 0.5 * cross({0.0, 0.0}, outer[0], outer[1]) * 5.0;
      std::vector<std::array<Point2, 3>> triangles;
      double area = 0.0;
      for (std::size_t t = 0; t < 10; ++t) {
        std::array<Point2, 3> tri{};
        for (std::size_t k = 0; k < 3; ++k) {
          const HomVec4 c = out[1 + 3 * t + k];
          EXPECT_LT(plane.offset(c), tol);
          tri[k] = plane.coords(c);
        }
        const double signed_area = 0.5 * cross(tri[0], tri[1], tri[2]);
        EXPECT_GT(signed_area * pentagon, 0.0) << "triangle " << t << " turns the other way";
        area += signed_area;
        triangles.push_back(tri);
      }
      EXPECT_NEAR(area, (1.0 - opening * opening) * pentagon, tol);
      if (i % 60 != 0) continue;

      // Sample the plane: a point off every triangle's sides is in exactly one triangle when it is
      // inside the pentagon and outside the opening, and in none otherwise.
      const auto inside = [&](const std::array<Point2, 5>& poly, Point2 q) {
        for (std::size_t k = 0; k < 5; ++k) {
          if (cross(poly[k], poly[(k + 1) % 5], q) * pentagon <= 0.0) return false;
        }
        return true;
      };
      const double r = std::hypot(outer[0][0], outer[0][1]);
      const double margin = 1e-9 * r;
      for (int gx = -40; gx <= 40; ++gx) {
        for (int gy = -40; gy <= 40; ++gy) {
          const Point2 q{1.1 * r * gx / 40.0, 1.1 * r * gy / 40.0};
          int covers = 0;
          bool on_side = false;
          for (const auto& tri : triangles) {
            // The signed distance from q to the nearest side, positive inside.
            const double turn = cross(tri[0], tri[1], tri[2]) > 0.0 ? 1.0 : -1.0;
            double lowest = std::numeric_limits<double>::infinity();
            for (std::size_t k = 0; k < 3; ++k) {
              const Point2 a = tri[k], b = tri[(k + 1) % 3];
              lowest =
                  std::min(lowest, turn * cross(a, b, q) / std::hypot(b[0] - a[0], b[1] - a[1]));
            }
            if (std::fabs(lowest) < margin) on_side = true;
            if (lowest > 0.0) ++covers;
          }
          if (on_side) continue;
          const bool in_frame = inside(outer, q) && !inside(inner, q);
          EXPECT_EQ(covers, in_frame ? 1 : 0) << "face " << i << " at " << gx << ", " << gy;
        }
      }
    }
  }
}

}  // namespace
}  // namespace orv::view
