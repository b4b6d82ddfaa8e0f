// Fubini–Study distance and the conversion between world lengths and its cosine measure.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "orv/kernel.hpp"

namespace orv {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kR = R_KALDRA_KM * 1000.0;

TEST(KernelFsDistance, Cases) {
  const HomVec4 v{1.0, 2.0, 3.0, 4.0};
  const struct {
    const char* name;
    HomVec4 a, b;
    double expected;
    double tol;
  } cases[] = {
      {"same vector", v, v, 0.0, 0.0},
      {"antipode", v, {-1.0, -2.0, -3.0, -4.0}, 0.0, 0.0},
      // A ratio rounded just below 1 leaves an arc cosine of order √ε.
      {"scaled representative", v, {-3.7, -7.4, -11.1, -14.8}, 0.0, 1e-6},
      {"orthogonal", {1.0, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, kPi / 2, 1e-10},
      {"45 degrees, unnormalised", {1.0, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 1.0}, kPi / 4, 1e-10},
      {"45 degrees, scaled", {3.0, 0.0, 0.0, 0.0}, {-2.0, 0.0, 0.0, -2.0}, kPi / 4, 1e-10},
      {"zero on the left", {}, v, 0.0, 0.0},
      {"zero on the right", v, {}, 0.0, 0.0},
      {"norm below 1e-15", {1e-16, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, 0.0, 0.0},
      {"norm 1e-15 counts", {2e-15, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, kPi / 2, 1e-10},
      // Non-finite ratios are capped to 1, giving distance 0 rather than NaN.
      {"NaN coordinate", {kNaN, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 0.0}, 0.0, 0.0},
      {"infinite coordinate", {kInf, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 0.0}, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double d = fsDistance(c.a, c.b);
    EXPECT_NEAR(d, c.expected, c.tol);
    EXPECT_EQ(fsDistance(c.b, c.a), d) << "not symmetric";
  }
}

TEST(KernelFsDistance, NormalisedAntipodesNeverGiveNaN) {
  // Normalised antipodes whose rounded cosine ratio may exceed 1: the cap makes them exactly 0.
  for (int i = 1; i <= 200; ++i) {
    const double t = 0.01 * i;
    const HomVec4 p = HomVec4{std::sin(t), std::cos(3.0 * t), t, 1.0 / t}.normalize();
    const HomVec4 q{-p.x, -p.y, -p.z, -p.w};
    const double d = fsDistance(p, q);
    ASSERT_FALSE(std::isnan(d)) << "t = " << t;
    EXPECT_LE(d, 1e-6) << "t = " << t;
  }
}

TEST(KernelDistanceConversion, Cases) {
  const struct {
    const char* name;
    double W;
    double expected_s;
  } cases[] = {
      {"W = 1", 1.0, 0.0},
      {"W = 0", 0.0, kPi * kR},
      {"W = -1", -1.0, 2.0 * kPi * kR},
      {"above 1 clamps", 1.5, 0.0},
      {"below -1 clamps", -3.0, 2.0 * kPi * kR},
      {"+inf clamps", kInf, 0.0},
      {"-inf clamps", -kInf, 2.0 * kPi * kR},
      {"NaN counts as 1", kNaN, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(sFromW(c.W, kR), c.expected_s);
  }
}

TEST(KernelDistanceConversion, WFromDistance) {
  EXPECT_EQ(wFromDistance(0.0, kR), 1.0);
  // The length s stands for the angle s/(2R): half a great circle of radius R is W = 0.
  EXPECT_NEAR(wFromDistance(kPi * kR, kR), 0.0, 1e-15);
  EXPECT_NEAR(wFromDistance(2.0 * kPi * kR, kR), -1.0, 1e-15);
  EXPECT_TRUE(std::isnan(wFromDistance(1.0, 0.0))) << "a zero radius has no guard";
}

TEST(KernelDistanceConversion, RoundTrip) {
  // Rounding W = cos(s/2R) by up to ε/4 (half the spacing of doubles just below 1) moves the
  // length by 2R·(ε/4)/sin(s/2R) ≈ 4R²·(ε/4)/s: about 8e-6 m at 1 km, less for longer lengths
  // (the same holds near W = −1). 1e-4 m leaves room for the cosine's and arc cosine's own error.
  const double lengths[] = {1000.0, 1e5, 1e6, kPi * kR, 6.0 * kR, 2.0 * kPi * kR - 1000.0};
  for (const double s : lengths) {
    SCOPED_TRACE(s);
    EXPECT_NEAR(sFromW(wFromDistance(s, kR), kR), s, 1e-4);
  }
}

TEST(KernelDistanceConversion, LengthsBeyondHalfATurnComeBackShorter) {
  // W is even about s = 2π·R: 2π·R + 1000 m names the same W as 2π·R − 1000 m.
  const double s = 2.0 * kPi * kR;
  EXPECT_NEAR(sFromW(wFromDistance(s + 1000.0, kR), kR), s - 1000.0, 1e-4);
}

}  // namespace
}  // namespace orv
