// The four compute kernels on the device (SwiftShader) against the CPU reference batches and f64
// references, at lengths around the workgroup size, with buffers reused across calls, batches cut
// into several dispatches, and the argument and device-loss errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "device_env.hpp"
#include "orv/gpu.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::test {
namespace {

// A value that no kernel writes: surplus outputs must keep it.
constexpr float kSentinel = -1234.5f;

// ---------------------------------------------------------------------------------------------
// References and tolerances

// fs_distance_batch. The device computes the cosine ratio from its f32 inputs with a 4-term dot
// product (error ≤ γ₄·|p||q| ≈ 4u·|p||q| by Cauchy–Schwarz), two norms (sums of squares γ₄, and a
// sqrt that WGSL lets inherit 1/inverseSqrt: 2 + 2.5 ULP ≤ 9u), their product (u) and a division
// (2.5 ULP ≤ 5u): relative error ≤ 4u + 2·(2u + 9u) + u + 5u = 32u; with margin the f32 cosine lies
// within δ = 48u of the f64 one computed from the same inputs. acos is monotonic, so the distance
// lies in [acos(c + δ), acos(c − δ)], widened by the error WGSL allows acos itself: it inherits
// atan2's 4096 ULP of the result (SwiftShader's polynomial is off by about 570 ULP at π/2).
constexpr double kCosineError = 48 * u;

double acosError(double theta) {
  const double at_least = std::max(theta, 0x1.0p-126);
  return 4096 * std::ldexp(1.0, static_cast<int>(std::floor(std::log2(at_least))) - 23);
}

::testing::AssertionResult distancesAgree(std::span<const HomVec4> points, HomVec4 reference,
                                          std::span<const float> got) {
  std::vector<double> expected(points.size());
  cpuFSDistanceBatch(points, reference, expected);
  const double reference_norm = reference.norm();
  std::size_t bad = 0;
  std::ostringstream first;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double norm = points[i].norm();
    const auto g = static_cast<double>(got[i]);
    bool ok = false;
    double lo = 0.0;
    double hi = 0.0;
    if (norm < NORM_FLOOR || reference_norm < NORM_FLOOR) {
      ok = g == 0.0;  // below the zero threshold in f64 and, far from it, in f32: exactly 0
    } else {
      const double c = std::cos(expected[i]);
      lo = std::acos(std::min(1.0, c + kCosineError)) - acosError(expected[i]);
      hi = std::acos(std::max(0.0, c - kCosineError)) + acosError(expected[i]);
      ok = g >= lo && g <= hi;
    }
    if (!ok && bad++ == 0) {
      first << "point " << i << ": device " << g << ", CPU " << expected[i] << ", window [" << lo
            << ", " << hi << "]";
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << bad << " of " << points.size() << " distances disagree; first " << first.str();
}

// pgl_action_batch. Each output coordinate is a 4-term sum of products of f32 inputs: each product
// rounds once (u), the three additions add γ₃ of Σ|m·p|; 8u·Σ_c |m_rc·p_c| bounds the difference
// from the f64 product of the same inputs with margin (also where the device fuses multiply-adds).
::testing::AssertionResult actionAgrees(const PGL4& m, std::span<const HomVec4> points,
                                        std::span<const GpuHomVec4> got) {
  std::vector<HomVec4> expected(points.size());
  cpuPGLActionBatch(m, points, expected);
  std::size_t bad = 0;
  std::ostringstream first;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::array<double, 4> p{points[i].x, points[i].y, points[i].z, points[i].w};
    const std::array<double, 4> e{expected[i].x, expected[i].y, expected[i].z, expected[i].w};
    const std::array<float, 4> g{got[i].x, got[i].y, got[i].z, got[i].w};
    for (std::size_t r = 0; r < 4; ++r) {
      double scale = 0.0;
      for (std::size_t c = 0; c < 4; ++c)
        scale += std::abs(m.data[c * 4 + r] * p[c]);
      if (std::abs(static_cast<double>(g[r]) - e[r]) > 8 * u * scale && bad++ == 0) {
        first << "point " << i << " row " << r << ": device " << g[r] << ", CPU " << e[r];
      }
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " coordinates disagree; first " << first.str();
}

// geodesic_rk4_step: one classical RK4 step of q′ = v, v′ = −|v|²·q in f64 from the f32 state.
using State = std::array<double, 8>;

State widenState(const GpuGeodesicState& s) {
  const auto d = [](float x) { return static_cast<double>(x); };
  return {d(s.qx), d(s.qy), d(s.qz), d(s.qw), d(s.vx), d(s.vy), d(s.vz), d(s.vw)};
}

State rhs(const State& s) {
  const double k = s[4] * s[4] + s[5] * s[5] + s[6] * s[6] + s[7] * s[7];
  return {s[4], s[5], s[6], s[7], -k * s[0], -k * s[1], -k * s[2], -k * s[3]};
}

State axpy(const State& y, double c, const State& k) {
  State out{};
  for (std::size_t i = 0; i < 8; ++i)
    out[i] = y[i] + c * k[i];
  return out;
}

State rk4(const State& y, double h) {
  const State k1 = rhs(y);
  const State k2 = rhs(axpy(y, h / 2, k1));
  const State k3 = rhs(axpy(y, h / 2, k2));
  const State k4 = rhs(axpy(y, h, k3));
  State out{};
  for (std::size_t i = 0; i < 8; ++i)
    out[i] = y[i] + h * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]) / 6;
  return out;
}

// States on S³ moving along great circles (|q| = 1, q·v = 0) at speeds in [0.05, 4], with the
// state at rest and a camera-like state first.
std::vector<GpuGeodesicState> randomStates(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  std::uniform_real_distribution<double> speed(0.05, 4.0);
  std::vector<GpuGeodesicState> out;
  out.reserve(n);
  const auto f = [](double x) { return static_cast<float>(x); };
  if (n > 0) out.push_back({0, 0, 0, 1, 0, 0, -2, 0});
  if (n > 1) out.push_back({1, 0, 0, 0, 0, 0, 0, 0});
  while (out.size() < n) {
    // Braced lists draw the coordinates in order.
    const std::array<double, 4> a{coordinate(gen), coordinate(gen), coordinate(gen),
                                  coordinate(gen)};
    const std::array<double, 4> b{coordinate(gen), coordinate(gen), coordinate(gen),
                                  coordinate(gen)};
    const HomVec4 p = HomVec4::init(a[0], a[1], a[2], a[3]);
    const double pn = p.norm();
    const HomVec4 q = HomVec4::init(p.x / pn, p.y / pn, p.z / pn, p.w / pn);
    const double d = HomVec4::dot(HomVec4::init(b[0], b[1], b[2], b[3]), q);
    const HomVec4 v = HomVec4::init(b[0] - d * q.x, b[1] - d * q.y, b[2] - d * q.z, b[3] - d * q.w);
    const double s = speed(gen) / v.norm();
    out.push_back({f(q.x), f(q.y), f(q.z), f(q.w), f(v.x * s), f(v.y * s), f(v.z * s), f(v.w * s)});
  }
  return out;
}

// Every stage value is a few correctly rounded operations on quantities bounded by |q| + |v|
// (positions, velocities) or |v|²·(|q| + |v|) (accelerations), and stage errors reach the result
// multiplied by h; 16u per unit of those magnitudes covers the operation count.
::testing::AssertionResult stepsAgree(std::span<const GpuGeodesicState> states, float dt,
                                      std::span<const GpuGeodesicState> got) {
  const auto h = static_cast<double>(dt);
  std::size_t bad = 0;
  std::ostringstream first;
  for (std::size_t i = 0; i < states.size(); ++i) {
    const State y = widenState(states[i]);
    const State e = rk4(y, h);
    const State g = widenState(got[i]);
    const double speed = HomVec4::init(y[4], y[5], y[6], y[7]).norm();
    const double magnitude = h * (1 + speed * speed) * (1 + speed);
    for (std::size_t c = 0; c < 8; ++c) {
      const double tol = 16 * u * (std::abs(y[c]) + std::abs(e[c] - y[c]) + magnitude);
      if (std::abs(g[c] - e[c]) > tol && bad++ == 0) {
        first << "state " << i << " member " << c << ": device " << g[c] << ", f64 " << e[c];
      }
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " members disagree; first " << first.str();
}

// idempotent_newton_step: 3P² − 2P³ in f64 from the f32 matrix. Two 4-term matrix products (γ₄
// each, the second also carrying the first's error), the scalings and the difference:
// 12u·(3·|P|² + 2·|P|³) bounds the f32 error elementwise (|P| the elementwise absolute value).
using Matrix = std::array<double, 16>;

Matrix product(const Matrix& a, const Matrix& b) {
  Matrix out{};
  for (std::size_t c = 0; c < 4; ++c) {
    for (std::size_t r = 0; r < 4; ++r) {
      for (std::size_t k = 0; k < 4; ++k)
        out[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
    }
  }
  return out;
}

// n matrices: idempotent ones and ½·I first (fixed points), then rank-2 projectors with noise of
// 1e-3 and 1, alternately.
std::vector<float> newtonMatrices(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::vector<float> out;
  out.reserve(n * 16);
  const auto diag = [&](std::array<float, 4> d) {
    for (std::size_t c = 0; c < 4; ++c) {
      for (std::size_t r = 0; r < 4; ++r)
        out.push_back(r == c ? d[r] : 0.0f);
    }
  };
  const std::array<std::array<float, 4>, 5> fixed{
      {{1, 1, 1, 1}, {1, 0, 1, 0}, {0, 0, 0, 1}, {0, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}}};
  for (std::size_t i = 0; i < n && i < fixed.size(); ++i)
    diag(fixed[i]);
  for (std::size_t i = fixed.size(); i < n; ++i) {
    const double noise = i % 2 == 0 ? 1e-3 : 1.0;
    std::uniform_real_distribution<double> jitter(-noise, noise);
    for (std::size_t c = 0; c < 4; ++c) {
      for (std::size_t r = 0; r < 4; ++r)
        out.push_back(static_cast<float>((r == c && r < 2 ? 1.0 : 0.0) + jitter(gen)));
    }
  }
  return out;
}

::testing::AssertionResult newtonAgrees(std::span<const float> before, std::span<const float> got) {
  std::size_t bad = 0;
  std::ostringstream first;
  const std::size_t complete = before.size() / 16;
  for (std::size_t i = 0; i < complete; ++i) {
    Matrix p{};
    Matrix a{};
    for (std::size_t n = 0; n < 16; ++n) {
      p[n] = static_cast<double>(before[i * 16 + n]);
      a[n] = std::abs(p[n]);
    }
    const Matrix p2 = product(p, p);
    const Matrix p3 = product(p2, p);
    const Matrix a2 = product(a, a);
    const Matrix a3 = product(a2, a);
    for (std::size_t n = 0; n < 16; ++n) {
      const double e = 3 * p2[n] - 2 * p3[n];
      const auto g = static_cast<double>(got[i * 16 + n]);
      if (std::abs(g - e) > 12 * u * (3 * a2[n] + 2 * a3[n]) && bad++ == 0) {
        first << "matrix " << i << "[" << n << "]: device " << g << ", f64 " << e;
      }
    }
  }
  for (std::size_t n = complete * 16; n < before.size(); ++n) {
    if (got[n] != before[n] && bad++ == 0) first << "trailing float " << n << " was changed";
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " values disagree; first " << first.str();
}

PGL4 widenMatrix(const GpuPGL4& m) {
  PGL4 out;
  for (std::size_t i = 0; i < 16; ++i)
    out.data[i] = static_cast<double>(m.data[i]);
  return out;
}

// A matrix with every element non-zero, as the device receives it.
GpuPGL4 randomTransform(std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> element(-2.0, 2.0);
  PGL4 m;
  for (double& x : m.data)
    x = element(gen);
  return pgl4ToGpu(m);
}

// ---------------------------------------------------------------------------------------------
// Each kernel at lengths 0, 1, 63, 64, 65 (around the workgroup size) and 100000

class KernelLengths : public DeviceTest, public ::testing::WithParamInterface<std::size_t> {};

INSTANTIATE_TEST_SUITE_P(Lengths, KernelLengths,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{63},
                                           std::size_t{64}, std::size_t{65}, std::size_t{100000}));

TEST_P(KernelLengths, FsDistanceAgreesWithTheCpuBatch) {
  const std::size_t n = GetParam();
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  Points points = randomPoints(n, 11 + n);
  // Edge cases among the first points: a zero vector, the reference, its antipode, an orthogonal
  // point.
  const GpuHomVec4 reference = homVec4ToGpu(HomVec4::init(0.5, -0.5, 0.5, 0.5));
  const std::array<GpuHomVec4, 4> edges{
      {{0, 0, 0, 0}, reference, {-0.5f, 0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f, -0.5f}}};
  for (std::size_t i = 0; i < n && i < edges.size(); ++i) {
    points.gpu[i] = edges[i];
    points.f64[i] = widen(edges[i]);
  }
  std::vector<float> out(n + 3, kSentinel);
  const Status ran = kernels->fsDistanceBatch(points.gpu, reference, out);
  ASSERT_TRUE(ran) << ran.error().describe();
  EXPECT_TRUE(distancesAgree(points.f64, widen(reference), out));
  if (n >= 4) {
    EXPECT_EQ(out[0], 0.0f);  // zero vector
    EXPECT_NEAR(out[3], std::numbers::pi / 2, acosError(std::numbers::pi / 2));
  }
  for (std::size_t i = n; i < out.size(); ++i)
    EXPECT_EQ(out[i], kSentinel) << "surplus output " << i << " was written";
}

TEST_P(KernelLengths, PglActionAgreesWithTheCpuBatch) {
  const std::size_t n = GetParam();
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const Points points = randomPoints(n, 23 + n);
  for (const GpuPGL4& m : {pgl4ToGpu(pglTranslate(1, -2, 0.5)), randomTransform(5 + n)}) {
    std::vector<GpuHomVec4> out(n + 2, GpuHomVec4{kSentinel, kSentinel, kSentinel, kSentinel});
    const Status ran = kernels->pglActionBatch(m, points.gpu, out);
    ASSERT_TRUE(ran) << ran.error().describe();
    EXPECT_TRUE(actionAgrees(widenMatrix(m), points.f64, out));
    for (std::size_t i = n; i < out.size(); ++i)
      EXPECT_EQ(out[i].x, kSentinel) << "surplus output " << i << " was written";
  }
}

TEST_P(KernelLengths, GeodesicRk4StepAgreesWithAnF64Step) {
  const std::size_t n = GetParam();
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const std::vector<GpuGeodesicState> states = randomStates(n, 31 + n);
  for (const float dt : {1e-3f, 0.016f, 0.05f}) {
    std::vector<GpuGeodesicState> out(n + 1, GpuGeodesicState{kSentinel});
    const Status ran = kernels->geodesicRk4Step(states, dt, out);
    ASSERT_TRUE(ran) << ran.error().describe();
    EXPECT_TRUE(stepsAgree(states, dt, out)) << "dt " << dt;
    if (n >= 2) {  // the state at rest does not move
      EXPECT_EQ(out[1].qx, 1.0f);
      EXPECT_EQ(out[1].vx, 0.0f);
    }
    EXPECT_EQ(out[n].qx, kSentinel) << "surplus output was written";
  }
}

TEST_P(KernelLengths, IdempotentNewtonStepAgreesWithAnF64Step) {
  const std::size_t n = GetParam();
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const std::vector<float> before = newtonMatrices(n, 47 + n);
  std::vector<float> matrices = before;
  const Status ran = kernels->idempotentNewtonStep(matrices);
  ASSERT_TRUE(ran) << ran.error().describe();
  EXPECT_TRUE(newtonAgrees(before, matrices));
  // Idempotent matrices and ½·I are fixed points, computed exactly.
  for (std::size_t i = 0; i < std::min<std::size_t>(n, 5) * 16; ++i)
    EXPECT_EQ(matrices[i], before[i]) << "float " << i;
}

// ---------------------------------------------------------------------------------------------
// Partial matrices, reuse, pieces

TEST_F(DeviceTest, NewtonStepLeavesATrailingPartialMatrixAlone) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  for (const std::size_t trailing : {1u, 7u, 15u}) {
    for (const std::size_t complete : {0u, 1u, 37u}) {
      std::vector<float> before = newtonMatrices(complete, 3);
      for (std::size_t i = 0; i < trailing; ++i)
        before.push_back(0.25f + static_cast<float>(i));
      std::vector<float> matrices = before;
      const Status ran = kernels->idempotentNewtonStep(matrices);
      ASSERT_TRUE(ran) << ran.error().describe();
      EXPECT_TRUE(newtonAgrees(before, matrices))
          << complete << " matrices and " << trailing << " floats";
    }
  }
}

TEST_F(DeviceTest, BuffersAreReusedAcrossShrinkingAndGrowingBatches) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const GpuHomVec4 reference{0.0f, 0.6f, 0.0f, 0.8f};
  const GpuPGL4 m = randomTransform(99);
  std::size_t round = 0;
  for (const std::size_t n : {65u, 1u, 20000u, 63u, 0u, 64u, 20001u}) {
    const Points points = randomPoints(n, 1000 + round++);
    std::vector<float> distances(n);
    ASSERT_TRUE(kernels->fsDistanceBatch(points.gpu, reference, distances));
    EXPECT_TRUE(distancesAgree(points.f64, widen(reference), distances)) << "length " << n;
    std::vector<GpuHomVec4> moved(n);
    ASSERT_TRUE(kernels->pglActionBatch(m, points.gpu, moved));
    EXPECT_TRUE(actionAgrees(widenMatrix(m), points.f64, moved)) << "length " << n;
  }
}

// Batches longer than one dispatch go through the same buffers piece by piece; the pieces need
// not be whole workgroups.
struct PieceCase {
  const char* name;
  std::size_t max_per_dispatch;
  std::size_t length;
};

void PrintTo(const PieceCase& c, std::ostream* os) { *os << c.name; }

class KernelPieces : public DeviceTest, public ::testing::WithParamInterface<PieceCase> {};

INSTANTIATE_TEST_SUITE_P(Pieces, KernelPieces,
                         ::testing::Values(PieceCase{"WholeWorkgroups", 64, 1000},
                                           PieceCase{"PartialWorkgroups", 100, 250},
                                           PieceCase{"OnePieceAndOne", 64, 65},
                                           PieceCase{"SinglesOfOne", 1, 5}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(KernelPieces, AllKernelsAgreeWhenABatchIsCutIntoPieces) {
  const PieceCase c = GetParam();
  Expected<ComputeKernels> kernels =
      ComputeKernels::create(dev(), ComputeOptions{c.max_per_dispatch});
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const Points points = randomPoints(c.length, 7);

  std::vector<float> distances(c.length);
  const GpuHomVec4 reference{1, 0, 0, 0};
  ASSERT_TRUE(kernels->fsDistanceBatch(points.gpu, reference, distances));
  EXPECT_TRUE(distancesAgree(points.f64, HomVec4::init(1, 0, 0, 0), distances));

  const GpuPGL4 m = randomTransform(8);
  std::vector<GpuHomVec4> moved(c.length);
  ASSERT_TRUE(kernels->pglActionBatch(m, points.gpu, moved));
  EXPECT_TRUE(actionAgrees(widenMatrix(m), points.f64, moved));

  const std::vector<GpuGeodesicState> states = randomStates(c.length, 9);
  std::vector<GpuGeodesicState> stepped(c.length);
  ASSERT_TRUE(kernels->geodesicRk4Step(states, 0.016f, stepped));
  EXPECT_TRUE(stepsAgree(states, 0.016f, stepped));

  std::vector<float> before = newtonMatrices(c.length, 10);
  before.push_back(0.5f);  // a trailing partial matrix, left alone
  std::vector<float> matrices = before;
  ASSERT_TRUE(kernels->idempotentNewtonStep(matrices));
  EXPECT_TRUE(newtonAgrees(before, matrices));
}

// ---------------------------------------------------------------------------------------------
// Errors

TEST_F(DeviceTest, AnOutputShorterThanItsInputIsAnArgumentErrorAndNothingIsWritten) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const Points points = randomPoints(10, 1);

  std::vector<float> distances(9, kSentinel);
  const Status fs = kernels->fsDistanceBatch(points.gpu, {0, 0, 0, 1}, distances);
  ASSERT_FALSE(fs);
  EXPECT_EQ(fs.error().step, ErrorStep::argument);
  EXPECT_NE(fs.error().message.find("fs_distance_batch"), std::string::npos) << fs.error().message;
  EXPECT_TRUE(
      std::all_of(distances.begin(), distances.end(), [](float x) { return x == kSentinel; }));

  std::vector<GpuHomVec4> moved(3);
  const Status pgl = kernels->pglActionBatch(GpuPGL4{}, points.gpu, moved);
  ASSERT_FALSE(pgl);
  EXPECT_EQ(pgl.error().step, ErrorStep::argument);

  const std::vector<GpuGeodesicState> states(4);
  std::vector<GpuGeodesicState> stepped;
  const Status rk4 = kernels->geodesicRk4Step(states, 0.1f, stepped);
  ASSERT_FALSE(rk4);
  EXPECT_EQ(rk4.error().step, ErrorStep::argument);
  EXPECT_NE(rk4.error().message.find("holds 0 elements, the input 4"), std::string::npos)
      << rk4.error().message;
}

TEST_F(DeviceTest, EveryKernelReportsALostDevice) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  dev().destroy();

  const Points points = randomPoints(100, 2);
  std::vector<float> distances(100, kSentinel);
  std::vector<GpuHomVec4> moved(100);
  const std::vector<GpuGeodesicState> states = randomStates(100, 3);
  std::vector<GpuGeodesicState> stepped(100);
  std::vector<float> matrices = newtonMatrices(10, 4);
  const std::array<Status, 4> results{
      kernels->fsDistanceBatch(points.gpu, {0, 0, 0, 1}, distances),
      kernels->pglActionBatch(GpuPGL4{}, points.gpu, moved),
      kernels->geodesicRk4Step(states, 0.1f, stepped),
      kernels->idempotentNewtonStep(matrices),
  };
  for (const Status& s : results) {
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().step, ErrorStep::device_lost) << s.error().describe();
    EXPECT_NE(s.error().message.find("destroyed"), std::string::npos) << s.error().message;
  }
  EXPECT_EQ(distances[0], kSentinel);
  EXPECT_FALSE(dev().status());
  const Expected<ComputeKernels> again = ComputeKernels::create(dev());
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().step, ErrorStep::device_lost);
}

TEST(DeviceTimeout, AWaitThatTimesOutIsAnErrorAndTheDeviceCountsAsLost) {
  // No wait may take any time: bring-up still succeeds (its futures are ready at once on this
  // implementation), but a batch of a million points cannot be read back without waiting.
  Expected<Device> device = Device::create({BackendRequest::vulkan, std::chrono::milliseconds{0}});
  ASSERT_TRUE(device) << device.error().describe();
  Expected<ComputeKernels> kernels = ComputeKernels::create(*device);
  ASSERT_TRUE(kernels) << kernels.error().describe();
  const Points points = randomPoints(1000000, 6);
  std::vector<GpuHomVec4> moved(points.gpu.size());
  const Status ran = kernels->pglActionBatch(randomTransform(7), points.gpu, moved);
  ASSERT_FALSE(ran);
  EXPECT_EQ(ran.error().step, ErrorStep::timeout) << ran.error().describe();
  EXPECT_NE(ran.error().message.find("took longer than 0 ms"), std::string::npos);
  const Status after = device->status();
  ASSERT_FALSE(after);
  EXPECT_EQ(after.error().step, ErrorStep::device_lost);
  EXPECT_NE(after.error().message.find("timed out"), std::string::npos) << after.error().message;
  // Releasing everything with the map still pending is safe (the sanitizer build checks it).
}

TEST_F(DeviceTest, KernelsKeepWorkingAfterTheDeviceObjectIsGone) {
  Expected<ComputeKernels> kernels = ComputeKernels::create(dev());
  ASSERT_TRUE(kernels) << kernels.error().describe();
  device.reset();
  const Points points = randomPoints(70, 5);
  std::vector<float> distances(70);
  ASSERT_TRUE(kernels->fsDistanceBatch(points.gpu, {0, 0, 1, 0}, distances));
  EXPECT_TRUE(distancesAgree(points.f64, HomVec4::init(0, 0, 1, 0), distances));
}

}  // namespace
}  // namespace orv::webgpu::test
