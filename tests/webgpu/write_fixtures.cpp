// Writes what the WebGPU conformance suite feeds to a device, taken from orv_gpu itself: the WGSL
// texts byte for byte, the pipeline table, and seeded inputs converted with batchToGpu /
// pgl4ToGpu together with the f64 results of the CPU reference batches.
//
// Usage: orv-webgpu-fixtures <directory>. All binary files are little-endian arrays without
// headers; manifest.json names them and gives their element counts.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "orv/gpu.hpp"

namespace {

static_assert(std::endian::native == std::endian::little, "the fixture files are little-endian");

using orv::AffineCard;
using orv::GpuHomVec4;
using orv::HomVec4;
using orv::PGL4;

namespace fs = std::filesystem;

// SplitMix64: a fixed sequence on every platform, unlike the standard distributions.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  double sign() { return (next() & 1u) != 0 ? -1.0 : 1.0; }
  // ±10^e with e uniform in [lo, hi].
  double magnitude(double lo, double hi) { return sign() * std::pow(10.0, uniform(lo, hi)); }

 private:
  std::uint64_t state_;
};

void writeBytes(const fs::path& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

template <class T>
void writeArray(const fs::path& path, std::span<const T> values) {
  writeBytes(path, values.data(), values.size_bytes());
}

void writeText(const fs::path& path, std::string_view text) {
  writeBytes(path, text.data(), text.size());
}

std::vector<double> flatten(std::span<const HomVec4> points) {
  std::vector<double> out;
  out.reserve(points.size() * 4);
  for (const HomVec4& p : points)
    out.insert(out.end(), {p.x, p.y, p.z, p.w});
  return out;
}

std::vector<GpuHomVec4> toGpu(std::span<const HomVec4> points) {
  std::vector<GpuHomVec4> out(points.size());
  orv::batchToGpu(points, out);
  return out;
}

// The f64 value of what the device receives.
HomVec4 asReceived(HomVec4 p) {
  const GpuHomVec4 g = orv::homVec4ToGpu(p);
  return HomVec4::init(static_cast<double>(g.x), static_cast<double>(g.y), static_cast<double>(g.z),
                       static_cast<double>(g.w));
}

HomVec4 scaled(HomVec4 p, double s) { return HomVec4::init(p.x * s, p.y * s, p.z * s, p.w * s); }

HomVec4 randomDirection(Rng& rng) {
  return HomVec4::init(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1),
                       rng.uniform(-1, 1));
}

// ---------------------------------------------------------------------------------------------
// Points for fs_distance_batch and pgl_action_batch. Coordinates stay within 1e-17 ≤ |c| ≤ 1e18
// (or 0) so that squares and products stay normal, finite f32 values: WGSL lets a device flush
// subnormals and assume that no infinity arises. Norms near the zero threshold 1e-15, where f32
// and f64 may take different branches, are left out.

HomVec4 keepInRange(HomVec4 p) {
  auto clampTiny = [](double c) { return std::abs(c) < 1e-17 ? 0.0 : c; };
  return HomVec4::init(clampTiny(p.x), clampTiny(p.y), clampTiny(p.z), clampTiny(p.w));
}

std::vector<HomVec4> makeReferences(Rng& rng) {
  return {
      HomVec4::init(0.3, -0.5, 0.7, 0.2), HomVec4::init(1.0, 0.0, 0.0, 0.0),
      scaled(randomDirection(rng), 3e14), scaled(randomDirection(rng), 2e-12),
      HomVec4::init(0.0, 0.0, 0.0, 0.0),  // every distance is 0
  };
}

std::vector<HomVec4> makePoints(Rng& rng, std::span<const HomVec4> references, std::size_t count) {
  std::vector<HomVec4> points{
      HomVec4::init(0.0, 0.0, 0.0, 0.0),        HomVec4::init(1e-16, 0.0, 0.0, 0.0),
      HomVec4::init(0.0, 0.0, 0.0, -3e-16),     HomVec4::init(1.0, 0.0, 0.0, 0.0),
      HomVec4::init(-1.0, 0.0, 0.0, 0.0),       HomVec4::init(0.0, 1.0, 0.0, 0.0),
      HomVec4::init(0.0, 0.0, 1.0, 0.0),        HomVec4::init(0.0, 0.0, 0.0, 1.0),
      HomVec4::init(1.0, 2.0, 3.0, 4.0),        HomVec4::init(-1.0, -2.0, -3.0, -4.0),
      HomVec4::init(2.0, 4.0, 6.0, 2.0),        HomVec4::init(1.0, 2.0, 3.0, 0.0),
      HomVec4::init(1e15, -2e15, 3e15, 0.0),    HomVec4::init(4e-12, 1e-12, -2e-12, 1e-12),
      HomVec4::init(1e15, 1e-12, -1e15, 1e-12),
  };
  // A point that is neither zero nor clearly above the zero threshold is not taken.
  auto take = [&points](HomVec4 p) {
    p = keepInRange(p);
    const double n = p.norm();
    if (n == 0.0 || n > 1e-14) points.push_back(p);
  };
  for (const HomVec4& r : references) {
    // The reference itself, scaled copies, antipodes, and a point orthogonal to it.
    for (const double s : {1.0, -1.0, 2.5, -1e3, 1e-2})
      take(scaled(r, s));
    const double rr = HomVec4::dot(r, r);
    if (rr > 0.0) {
      const HomVec4 d = randomDirection(rng);
      const double c = HomVec4::dot(d, r) / rr;
      take(HomVec4::init(d.x - c * r.x, d.y - c * r.y, d.z - c * r.z, d.w - c * r.w));
    }
  }
  while (points.size() < count) {
    HomVec4 p = randomDirection(rng);
    switch (rng.below(6)) {
      case 0:  // unit-sized
        break;
      case 1:  // a point at infinity
        p.w = 0.0;
        break;
      case 2:  // huge
        p = scaled(p, rng.magnitude(12, 15));
        break;
      case 3:  // tiny, well above the zero threshold
        p = scaled(p, rng.magnitude(-13, -11));
        break;
      case 4:  // mixed magnitudes within one point
        p = HomVec4::init(p.x * rng.magnitude(-12, 15), p.y * rng.magnitude(-12, 15),
                          p.z * rng.magnitude(-12, 15), p.w * rng.magnitude(-12, 15));
        break;
      default: {  // near one of the non-zero references (small angles)
        const HomVec4 r = references[rng.below(references.size() - 1)];
        const double eps = rng.magnitude(-7, -2) * r.norm();
        p = HomVec4::init(r.x + eps * p.x, r.y + eps * p.y, r.z + eps * p.z, r.w + eps * p.w);
        p = scaled(p, rng.magnitude(-2, 2));
        break;
      }
    }
    take(p);
  }
  points.resize(count);
  return points;
}

std::vector<PGL4> makeTransforms(Rng& rng) {
  PGL4 dense;
  for (double& e : dense.data)
    e = rng.uniform(-4.0, 4.0);
  PGL4 spread;  // entries over six orders of magnitude
  for (double& e : spread.data)
    e = rng.uniform(-1.0, 1.0) * std::pow(10.0, rng.uniform(-3, 3));
  const double c = std::cos(0.9);
  const double s = std::sin(0.9);
  const PGL4 rotate_x =
      PGL4::fromRowMajor({{{1, 0, 0, 0}, {0, c, -s, 0}, {0, s, c, 0}, {0, 0, 0, 1}}});
  const PGL4 perspective =
      PGL4::fromRowMajor({{{1.3, 0, 0, 0}, {0, 1.7, 0, 0}, {0, 0, -1.01, -0.2}, {0, 0, -1, 0}}});
  return {
      PGL4::identity(),
      PGL4::mul(orv::pglTranslate(1.0, -2.0, 3.5), rotate_x),
      PGL4::mul(perspective, orv::pglScale(2.0, 0.5, -3.0)),
      dense,
      spread,
  };
}

// ---------------------------------------------------------------------------------------------
// Vertex data. Every position is built to land on the centre of its own pixel of a W×H target
// under the fixture's MVP and eye, so that the pixel a point is drawn on shows its clip position:
// mvp·(±q), the copy with eye·q ≥ 0. Half of the positions arrive as the other copy.

constexpr std::size_t target_size = 128;
constexpr std::size_t vertex_count = 701;

struct VertexCase {
  GpuHomVec4 position;
  GpuHomVec4 normal;
  std::array<float, 2> uv;
  // chart, world x, y, z of the position; chart, x, y, z of the normal; the pixel (x, y); the
  // sign s of the copy s·q drawn.
  std::array<double, 11> expected;
};

// The positions in a homogeneous vector of the chart coordinate and of the three others, which
// keep their order x, y, z, w.
struct ChartIndices {
  std::size_t chart;
  std::array<std::size_t, 3> others;
};

ChartIndices chartIndices(AffineCard card) {
  switch (card) {
    case AffineCard::UW:
      return {3, {0, 1, 2}};
    case AffineCard::UX:
      return {0, {1, 2, 3}};
    case AffineCard::UY:
      return {1, {0, 2, 3}};
    case AffineCard::UZ:
      break;
  }
  return {2, {0, 1, 3}};
}

// Cartesian coordinates of p through the chart pickBestCard picks for it.
std::array<double, 3> throughBestChart(HomVec4 p) {
  const std::array<double, 4> h{p.x, p.y, p.z, p.w};
  const ChartIndices at = chartIndices(p.pickBestCard());
  return {h[at.others[0]] / h[at.chart], h[at.others[1]] / h[at.chart],
          h[at.others[2]] / h[at.chart]};
}

// The homogeneous vector s·(…) whose chart-`card` coordinates are c.
HomVec4 inChart(AffineCard card, std::array<double, 3> c, double s) {
  const ChartIndices at = chartIndices(card);
  std::array<double, 4> h{};
  h[at.chart] = s;
  for (std::size_t k = 0; k < 3; ++k)
    h[at.others[k]] = s * c[k];
  return HomVec4::init(h[0], h[1], h[2], h[3]);
}

// Every non-zero coordinate is a normal f32 with room to spare: WGSL lets a device flush
// subnormals to zero.
bool normalF32(HomVec4 p) {
  for (const double c : {p.x, p.y, p.z, p.w}) {
    if (c != 0.0 && std::abs(c) < 1e-30) return false;
  }
  return true;
}

// Only the sign of eye·q matters to the vertex stage.
HomVec4 vertexEye() { return HomVec4::init(0.3, -0.2, 0.5, 0.8); }

PGL4 vertexMvp() {
  return PGL4::fromRowMajor({{{0.9, 0.2, -0.1, 0.05},
                              {-0.15, 0.85, 0.2, -0.03},
                              {0.1, -0.08, 0.2, 0.5},
                              {0.07, 0.09, -0.11, 1.0}}});
}

std::vector<HomVec4> vertexNormals(Rng& rng, std::size_t count) {
  std::vector<HomVec4> normals{
      HomVec4::init(1, 2, 3, 4),  HomVec4::init(8, 2, 4, 2),  HomVec4::init(2, 4, 6, 2),
      HomVec4::init(1, 1, 1, 1),  HomVec4::init(2, 2, 1, 1),  HomVec4::init(0, 3, 3, 0),
      HomVec4::init(-5, 1, 1, 1), HomVec4::init(0, 0, -2, 2), HomVec4::init(1, 2, 3, 0),
      HomVec4::init(0, 0, 7, 0),  HomVec4::init(3, -3, 3, -3)};
  while (normals.size() < count) {
    HomVec4 n = randomDirection(rng);
    switch (rng.below(4)) {
      case 0:
        n.w = 0.0;
        break;
      case 1: {  // a tie between two coordinates
        std::array<double*, 4> c{&n.x, &n.y, &n.z, &n.w};
        const std::size_t a = rng.below(4);
        const std::size_t b = (a + 1 + rng.below(3)) % 4;
        *c[b] = rng.sign() * *c[a];
        break;
      }
      default:
        break;
    }
    n = scaled(n, rng.magnitude(-30, 30));
    if (n.norm() == 0.0 || !normalF32(n)) continue;
    normals.push_back(n);
  }
  return normals;
}

std::vector<VertexCase> makeVertices(Rng& rng, const PGL4& mvp_source, HomVec4 eye_source) {
  // The device multiplies by the f32 matrix and tests the sign with the f32 eye; the positions are
  // solved against them.
  const orv::GpuPGL4 mvp_gpu = orv::pgl4ToGpu(mvp_source);
  PGL4 m;
  for (std::size_t i = 0; i < 16; ++i)
    m.data[i] = static_cast<double>(mvp_gpu.data[i]);
  const HomVec4 eye = asReceived(eye_source);

  const std::vector<HomVec4> normals = vertexNormals(rng, vertex_count);
  std::vector<VertexCase> cases;
  constexpr std::array cards{AffineCard::UW, AffineCard::UX, AffineCard::UY, AffineCard::UZ};
  constexpr std::size_t pixels = target_size * target_size;
  static_assert(vertex_count <= pixels && (pixels & (pixels - 1)) == 0);
  // 7919 is odd and the pixel count a power of two, so j ↦ 7919·j visits distinct pixels. A
  // pixel that no position of the vertex's chart reaches is passed over.
  for (std::size_t j = 0; cases.size() < vertex_count; ++j) {
    if (j == pixels) throw std::runtime_error("too few pixels reachable");
    const std::size_t i = cases.size();
    const std::size_t pixel = (j * 7919u) % pixels;
    const std::size_t px = pixel % target_size;
    const std::size_t py = pixel / target_size;
    // A point on the border pixels lies within half a pixel of the clip volume's edge, where a
    // device may clip clip coordinates as small as 1e-21 either way.
    if (px == 0 || py == 0 || px == target_size - 1 || py == target_size - 1) continue;
    constexpr double size = target_size;
    const double ndc_x = (static_cast<double>(px) + 0.5) / size * 2.0 - 1.0;
    const double ndc_y = 1.0 - (static_cast<double>(py) + 0.5) / size * 2.0;
    const AffineCard card = cards[i % 4];
    const ChartIndices at = chartIndices(card);
    for (int attempt = 0; attempt < 1000; ++attempt) {
      // In the chart, p = (…, 1, …) with the chart coordinates c: fix one of them (0 puts a point
      // of a non-w chart at infinity; ±1 makes a tie) and solve (row0 − ndc_x·row3)·p = 0,
      // (row1 − ndc_y·row3)·p = 0 for the other two.
      const std::size_t fixed = rng.below(3);
      const std::uint64_t pick = rng.below(8);
      const double value = pick == 0 ? 0.0 : pick == 1 ? rng.sign() : rng.uniform(-0.95, 0.95);
      std::array<std::array<double, 4>, 2> rows{};
      for (unsigned c = 0; c < 4; ++c) {
        rows[0][c] = m.get(0, c) - ndc_x * m.get(3, c);
        rows[1][c] = m.get(1, c) - ndc_y * m.get(3, c);
      }
      std::array<std::size_t, 2> free{};
      for (std::size_t k = 0, f = 0; k < 3; ++k) {
        if (k != fixed) free[f++] = k;
      }
      const auto coefficient = [&](std::size_t row, std::size_t k) {
        return rows[row][at.others[k]];
      };
      const double a = coefficient(0, free[0]), b = coefficient(0, free[1]);
      const double c = coefficient(1, free[0]), d = coefficient(1, free[1]);
      const double e = -(coefficient(0, fixed) * value + rows[0][at.chart]);
      const double f = -(coefficient(1, fixed) * value + rows[1][at.chart]);
      const double det = a * d - b * c;
      if (std::abs(det) < 1e-3) continue;
      std::array<double, 3> cart{};
      cart[fixed] = value;
      cart[free[0]] = (e * d - b * f) / det;
      cart[free[1]] = (a * f - e * c) / det;
      if (std::abs(cart[free[0]]) > 0.98 || std::abs(cart[free[1]]) > 0.98) continue;

      const HomVec4 position = asReceived(inChart(card, cart, rng.magnitude(-24, 30)));
      if (!normalF32(position)) continue;
      if (position.pickBestCard() != card) continue;  // a tie that goes to an earlier chart
      // The device takes the sign of an f32 sum: keep clear of eye·q = 0.
      const double eye_dot = HomVec4::dot(eye, position);
      if (!(std::abs(eye_dot) > 1e-3 * eye.norm() * position.norm())) continue;
      const double sign = eye_dot < 0.0 ? -1.0 : 1.0;
      const HomVec4 clip = m.apply(scaled(position, sign / position.norm()));
      const double depth = clip.z / clip.w;
      if (!(clip.w > 0.2) || !(depth > 0.02 && depth < 0.98)) continue;

      const HomVec4 normal = asReceived(normals[i]);
      const std::array<double, 3> world = throughBestChart(position);
      const std::array<double, 3> world_normal = throughBestChart(normal);
      VertexCase vc;
      vc.position = orv::homVec4ToGpu(position);
      vc.normal = orv::homVec4ToGpu(normal);
      vc.uv = {static_cast<float>(rng.uniform(-2, 2)), static_cast<float>(rng.uniform(-2, 2))};
      vc.expected = {static_cast<double>(position.pickBestCard()),
                     world[0],
                     world[1],
                     world[2],
                     static_cast<double>(normal.pickBestCard()),
                     world_normal[0],
                     world_normal[1],
                     world_normal[2],
                     static_cast<double>(px),
                     static_cast<double>(py),
                     sign};
      cases.push_back(vc);
      break;
    }
  }
  return cases;
}

// ---------------------------------------------------------------------------------------------

void run(const fs::path& dir) {
  fs::create_directories(dir / "shaders");
  const std::array<std::pair<const char*, std::string_view>, 9> texts{{
      {"hom_vec4", orv::wgsl_hom_vec4},
      {"pgl4", orv::wgsl_pgl4},
      {"geodesic_state", orv::wgsl_geodesic_state},
      {"fs_distance_batch", orv::wgsl_fs_distance_batch},
      {"pgl_action_batch", orv::wgsl_pgl_action_batch},
      {"geodesic_rk4_step", orv::wgsl_geodesic_rk4_step},
      {"idempotent_newton", orv::wgsl_idempotent_newton},
      {"dehomogenize_vertex", orv::wgsl_dehomogenize_vertex},
      {"module", orv::buildWgslModule()},
  }};
  for (const auto& [name, text] : texts) {
    writeText(dir / "shaders" / (std::string(name) + ".wgsl"), text);
  }

  std::ostringstream json;
  json << "{\n  \"pipelines\": [\n";
  const auto pipelines = orv::allComputePipelines();
  for (std::size_t k = 0; k < pipelines.size(); ++k) {
    const orv::ComputePipelineDesc& desc = pipelines[k];
    const std::string file = "shaders/pipeline-" + std::to_string(k) + ".wgsl";
    writeText(dir / file, desc.shader);
    json << "    {\"kind\": " << static_cast<int>(desc.kind) << ", \"entry_point\": \""
         << orv::computeEntryPoint(desc.kind) << "\", \"shader\": \"" << file
         << "\", \"workgroup_size\": " << desc.workgroup_size << "}"
         << (k + 1 < pipelines.size() ? ",\n" : "\n");
  }
  json << "  ],\n  \"workgroup_size\": " << orv::WORKGROUP_SIZE << ",\n";

  Rng rng(0x0A5E'ED5E'ED00'4242ull);

  // fs_distance_batch: every point against each reference.
  const std::vector<HomVec4> references = makeReferences(rng);
  const std::vector<HomVec4> points = makePoints(rng, references, 3001);
  std::vector<double> distances(references.size() * points.size());
  for (std::size_t r = 0; r < references.size(); ++r) {
    orv::cpuFSDistanceBatch(points, references[r],
                            std::span(distances).subspan(r * points.size(), points.size()));
  }
  writeArray<double>(dir / "points.f64", flatten(points));
  writeArray<GpuHomVec4>(dir / "points.gpu", toGpu(points));
  writeArray<double>(dir / "references.f64", flatten(references));
  writeArray<GpuHomVec4>(dir / "references.gpu", toGpu(references));
  writeArray<double>(dir / "fs_distance.f64", distances);

  // pgl_action_batch: every point under each transformation.
  const std::vector<PGL4> transforms = makeTransforms(rng);
  std::vector<HomVec4> actions(transforms.size() * points.size());
  std::vector<double> transforms_f64;
  std::vector<orv::GpuPGL4> transforms_gpu;
  for (std::size_t t = 0; t < transforms.size(); ++t) {
    orv::cpuPGLActionBatch(transforms[t], points,
                           std::span(actions).subspan(t * points.size(), points.size()));
    transforms_f64.insert(transforms_f64.end(), transforms[t].data.begin(),
                          transforms[t].data.end());
    transforms_gpu.push_back(orv::pgl4ToGpu(transforms[t]));
  }
  writeArray<double>(dir / "transforms.f64", transforms_f64);
  writeArray<orv::GpuPGL4>(dir / "transforms.gpu", transforms_gpu);
  writeArray<double>(dir / "pgl_action.f64", flatten(actions));

  // dehomogenize_vertex.
  const PGL4 mvp = vertexMvp();
  const std::vector<VertexCase> vertices = makeVertices(rng, mvp, vertexEye());
  std::vector<GpuHomVec4> positions, normals;
  std::vector<float> uvs;
  std::vector<double> expected;
  for (const VertexCase& v : vertices) {
    positions.push_back(v.position);
    normals.push_back(v.normal);
    uvs.insert(uvs.end(), v.uv.begin(), v.uv.end());
    expected.insert(expected.end(), v.expected.begin(), v.expected.end());
  }
  const orv::GpuPGL4 mvp_gpu = orv::pgl4ToGpu(mvp);
  writeArray<GpuHomVec4>(dir / "vertex_positions.gpu", positions);
  writeArray<GpuHomVec4>(dir / "vertex_normals.gpu", normals);
  writeArray<float>(dir / "vertex_uvs.f32", uvs);
  writeArray<double>(dir / "vertex_expected.f64", expected);
  writeBytes(dir / "mvp.gpu", &mvp_gpu, sizeof mvp_gpu);
  const GpuHomVec4 eye_gpu = orv::homVec4ToGpu(vertexEye());
  writeBytes(dir / "eye.gpu", &eye_gpu, sizeof eye_gpu);

  json << "  \"points\": " << points.size() << ",\n"
       << "  \"references\": " << references.size() << ",\n"
       << "  \"transforms\": " << transforms.size() << ",\n"
       << "  \"vertices\": " << vertices.size() << ",\n"
       << "  \"target_size\": " << target_size << "\n}\n";
  writeText(dir / "manifest.json", json.str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  try {
    run(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orv-webgpu-fixtures: %s\n", e.what());
    return 1;
  }
  return 0;
}
