// Numeric primitives: four-lane f32 vector, dot product, normalisation, inverse square root.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <type_traits>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

using test::bits;

static_assert(sizeof(F32x4) == 4 * sizeof(float));
static_assert(std::is_same_v<decltype(simdDot4(F32x4{}, F32x4{})), float>);

static_assert(cordicInvSqrt(0.0) == 0.0);
static_assert(cordicInvSqrt(-0.0) == 0.0);
static_assert(cordicInvSqrt(-4.0) == 0.0);
static_assert(cordicInvSqrt(-std::numeric_limits<double>::infinity()) == 0.0);
// Three steps and no final correction leave the results just below 1/√x.
static_assert(cordicInvSqrt(1.0) < 1.0 && cordicInvSqrt(1.0) > 1.0 - 1e-10);
static_assert(cordicInvSqrt(4.0) < 0.5 && cordicInvSqrt(4.0) > 0.5 - 1e-10);

void expectLanes(F32x4 v, float x, float y, float z, float w) {
  EXPECT_EQ(bits(v[0]), bits(x)) << v[0] << " vs " << x;
  EXPECT_EQ(bits(v[1]), bits(y)) << v[1] << " vs " << y;
  EXPECT_EQ(bits(v[2]), bits(z)) << v[2] << " vs " << z;
  EXPECT_EQ(bits(v[3]), bits(w)) << v[3] << " vs " << w;
}

TEST(KernelSimd, F32x4FillsLanesInArgumentOrder) {
  expectLanes(f32x4(1.0f, -2.0f, 3.5f, -0.0f), 1.0f, -2.0f, 3.5f, -0.0f);
}

TEST(KernelSimd, Dot4) {
  const struct {
    const char* name;
    F32x4 a, b;
    float expected;
  } cases[] = {
      {"unit", f32x4(1, 0, 0, 0), f32x4(1, 0, 0, 0), 1.0f},
      {"counting", f32x4(1, 2, 3, 4), f32x4(5, 6, 7, 8), 70.0f},
      // ((2²⁴ + 1) + 1) − 2²⁴ = 0 in lane order (2²⁴ + 1 rounds to 2²⁴, tie to even); in pairs
      // it is 2²⁴ + (1 − 2²⁴) = 1, in reverse order 2.
      {"lane order", f32x4(0x1p24f, 1, 1, -0x1p24f), f32x4(1, 1, 1, 1), 0.0f},
      // The sum starts at the first product: four −0 products give −0.
      {"-0 products", f32x4(-1, -1, -1, -1), f32x4(0, 0, 0, 0), -0.0f},
      {"mixed zeros", f32x4(-1, 1, -1, -1), f32x4(0, 0, 0, 0), 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bits(simdDot4(c.a, c.b)), bits(c.expected)) << simdDot4(c.a, c.b);
  }
}

TEST(KernelSimd, Dot4RoundsInSinglePrecision) {
  // (1 + 2⁻¹²)² = 1 + 2⁻¹¹ + 2⁻²⁴: the last bit is lost in f32, kept in f64.
  const float a = 1.0f + 0x1p-12f;
  EXPECT_EQ(simdDot4(f32x4(a, 0, 0, 0), f32x4(a, 0, 0, 0)), 1.0f + 0x1p-11f);
}

TEST(KernelSimd, Normalize3) {
  const struct {
    const char* name;
    F32x4 v;
    F32x4 expected;
  } cases[] = {
      {"3-0-0-4: all four lanes count", f32x4(3, 0, 0, 4), f32x4(0.6f, 0, 0, 0.8f)},
      {"w only", f32x4(0, 0, 0, 2), f32x4(0, 0, 0, 1)},
      {"negative lane", f32x4(0, -5, 0, 0), f32x4(0, -1, 0, 0)},
      // 41·(1/41) is 0.99999994 in f32: the lanes are divided by the length, not multiplied by
      // its reciprocal.
      {"division, not reciprocal", f32x4(41, 0, 0, 0), f32x4(1, 0, 0, 0)},
      {"zero vector", f32x4(0, 0, 0, 0), f32x4(0, 0, 0, 1)},
      {"squared length 1e-16", f32x4(1e-8f, 0, 0, 0), f32x4(0, 0, 0, 1)},
      {"squared length 1e-14", f32x4(1e-7f, 0, 0, 0), f32x4(1, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const F32x4 n = simdNormalize3(c.v);
    expectLanes(n, c.expected[0], c.expected[1], c.expected[2], c.expected[3]);
  }
  const F32x4 n = simdNormalize3(f32x4(3, 0, 0, 4));
  EXPECT_LE(std::abs(simdDot4(n, n) - 1.0f), 1e-5f);
}

TEST(KernelSimd, Normalize3ThresholdIsStrictOnTheSquaredLength) {
  // (137, 19, 0, 4344)·2⁻³⁷ has the squared length 18889466·2⁻⁷⁴, exactly the f32 value of
  // 1e-15, with every product and partial sum exact: it is normalised. Shortening the last lane
  // to 4342·2⁻³⁷ puts it below: the fallback.
  const float s = 0x1p-37f;
  const F32x4 at = f32x4(137 * s, 19 * s, 0, 4344 * s);
  const F32x4 below = f32x4(137 * s, 19 * s, 0, 4342 * s);
  ASSERT_EQ(simdDot4(at, at), 1e-15f);
  ASSERT_LT(simdDot4(below, below), 1e-15f);
  const F32x4 n = simdNormalize3(at);
  const float len = std::sqrt(1e-15f);
  expectLanes(n, at[0] / len, at[1] / len, 0.0f, at[3] / len);
  expectLanes(simdNormalize3(below), 0, 0, 0, 1);
}

TEST(KernelSimd, Normalize3NaNSpreadsToAllLanes) {
  const F32x4 n = simdNormalize3(f32x4(std::numeric_limits<float>::quiet_NaN(), 1, 0, 0));
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(std::isnan(n[i])) << i;
}

TEST(KernelCordicInvSqrt, Cases) {
  const struct {
    double x;
    double expected;
    double tol;
  } cases[] = {
      {4.0, 0.5, 1e-10},       {1.0, 1.0, 1e-10},
      {9.0, 1.0 / 3.0, 1e-10}, {2.0, 1.0 / std::numbers::sqrt2, 1e-13},
      {1e-10, 1e5, 1e-5},      {1e10, 1e-5, 1e-15},
      {0.0, 0.0, 0.0},         {-0.0, 0.0, 0.0},
      {-4.0, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    const double y = cordicInvSqrt(c.x);
    EXPECT_NEAR(y, c.expected, c.tol);
    if (c.x <= 0.0) {
      EXPECT_EQ(bits(y), bits(0.0)) << "not +0.0";
    }
  }
  EXPECT_TRUE(std::isnan(cordicInvSqrt(std::numeric_limits<double>::quiet_NaN())));
}

TEST(KernelCordicInvSqrt, RelativeErrorOverPositiveNormals) {
  // The bit-level first estimate is within e0 ≈ 3.44% of 1/√x; a Newton step maps a relative
  // error e to about −1.5·e², so three steps leave at most 1.5·(1.5·(1.5·e0²)²)² ≈ 3.4e-11
  // (more than 1e-10/3 below the self-check's tolerance). The sweep covers every binade of the
  // normal range with 256 mantissas each.
  const double bound = 3.5e-11;
  double worst = 0.0;
  for (int e = -1022; e <= 1023; ++e) {
    for (int j = 0; j < 256; ++j) {
      const double x = std::ldexp(1.0 + j / 256.0, e);
      const double rel = cordicInvSqrt(x) * std::sqrt(x) - 1.0;
      ASSERT_LT(std::abs(rel), bound) << "x = " << x;
      worst = std::max(worst, std::abs(rel));
    }
  }
  // The bound is not loose: the worst case lies close to it.
  EXPECT_GT(worst, 2e-11);
}

// The operation step by step: estimate 0x5fe6eb50c7b537a9 − (bits >> 1), then three times
// y·(1.5 − (½x·y)·y), half_x·y formed first.
double referenceInvSqrt(double x) {
  const std::uint64_t estimate = 0x5fe6eb50c7b537a9 - (std::bit_cast<std::uint64_t>(x) >> 1);
  double y = std::bit_cast<double>(estimate);
  const double half_x = 0.5 * x;
  for (int step = 0; step < 3; ++step) {
    const double half_x_y = half_x * y;
    y = y * (1.5 - half_x_y * y);
  }
  return y;
}

TEST(KernelCordicInvSqrt, BitExactAgainstTheStatedSteps) {
  // About one x in five of this sweep over [1, 5) tells the two groupings of ½x·y² apart.
  for (int j = 0; j < 4096; ++j) {
    const double x = 1.0 + j / 1024.0;
    ASSERT_EQ(bits(cordicInvSqrt(x)), bits(referenceInvSqrt(x))) << "x = " << x;
  }
  for (const double x : {0.1, 1e-300, 7.5e300, 123456.789, 2.2250738585072014e-308}) {
    EXPECT_EQ(bits(cordicInvSqrt(x)), bits(referenceInvSqrt(x))) << "x = " << x;
  }
}

TEST(KernelCordicInvSqrt, ScalesExactlyByPowersOfFour) {
  // Multiplying x by 4 moves its exponent by 2, the first estimate's by −1, and every later
  // product by an exact power of two: the result halves exactly.
  for (const double x : {1.0, 1.7, 2.5, 3.999, 1e-300, 7e200}) {
    SCOPED_TRACE(x);
    EXPECT_EQ(cordicInvSqrt(4.0 * x), 0.5 * cordicInvSqrt(x));
    EXPECT_EQ(cordicInvSqrt(x / 16.0), 4.0 * cordicInvSqrt(x));
  }
}

}  // namespace
}  // namespace orv
