// Homogeneous points: constructors, dehomogenisation, normalisation, projective equality, charts.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using test::samePointBits;

static_assert(HomVec4::fromCartesian(3.0, 4.0, 5.0) == HomVec4{3.0, 4.0, 5.0, 1.0});
static_assert(HomVec4::init(1.0, 2.0, 3.0, 4.0) == HomVec4{1.0, 2.0, 3.0, 4.0});
static_assert(HomVec4::dot({1.0, 2.0, 3.0, 4.0}, {5.0, 6.0, 7.0, 8.0}) == 70.0);
static_assert(sizeof(HomVec4) == 4 * sizeof(double));

TEST(KernelHomVec4, DotSumsInCoordinateOrder) {
  // ((2⁵³ + 1) + 1) − 2⁵³ = 0 in this order (2⁵³ + 1 rounds to 2⁵³, tie to even); in pairs it
  // is 2⁵³ + (1 − 2⁵³) = 1, in reverse order 2.
  const HomVec4 a{0x1p53, 1.0, 1.0, -0x1p53};
  const HomVec4 ones{1.0, 1.0, 1.0, 1.0};
  EXPECT_EQ(HomVec4::dot(a, ones), 0.0);
}

TEST(KernelHomVec4, Cartesian3) {
  const double r14 = std::sqrt(14.0);
  const struct {
    const char* name;
    HomVec4 v;
    std::array<double, 3> expected;
  } cases[] = {
      {"w = 1", {3.0, 4.0, 5.0, 1.0}, {3.0, 4.0, 5.0}},
      {"w = 2", {2.0, 4.0, 6.0, 2.0}, {1.0, 2.0, 3.0}},
      {"negated representative", {-2.0, -4.0, -6.0, -2.0}, {1.0, 2.0, 3.0}},
      {"w = W_EPS divides", {1.0, 2.0, 3.0, 1e-6}, {1e6, 2e6, 3e6}},
      {"at infinity", {1.0, 2.0, 3.0, 0.0}, {1.0 / r14, 2.0 / r14, 3.0 / r14}},
      {"at infinity, negated", {-1.0, -2.0, -3.0, 0.0}, {-1.0 / r14, -2.0 / r14, -3.0 / r14}},
      {"zero vector", {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}},
      {"norm below 1e-15", {1e-16, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = c.v.cartesian3();
    for (unsigned i = 0; i < 3; ++i)
      EXPECT_DOUBLE_EQ(got[i], c.expected[i]) << "coordinate " << i;
  }
}

TEST(KernelHomVec4, Cartesian3NearInfinityKeepsSmallWInTheNorm) {
  // w = 5e-7 < W_EPS: the direction branch, dividing by the norm of all four coordinates.
  const HomVec4 v{1.0, 2.0, 3.0, 5e-7};
  const double n = std::sqrt(14.0 + 25e-14);
  const auto got = v.cartesian3();
  EXPECT_EQ(got[0], 1.0 / n);
  EXPECT_EQ(got[1], 2.0 / n);
  EXPECT_EQ(got[2], 3.0 / n);
}

TEST(KernelHomVec4, Normalize) {
  const struct {
    const char* name;
    HomVec4 v;
    HomVec4 expected;
  } cases[] = {
      {"3-4-5", {3.0, 0.0, 0.0, 4.0}, {0.6, 0.0, 0.0, 0.8}},
      {"sign kept", {0.0, 0.0, 0.0, -2.0}, {0.0, 0.0, 0.0, -1.0}},
      {"zero vector falls back", {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 1.0}},
      {"norm below 1e-15 falls back", {1e-16, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 1.0}},
      {"norm 1e-15 is normalised", {1e-15, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 0.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HomVec4 n = c.v.normalize();
    EXPECT_DOUBLE_EQ(n.x, c.expected.x);
    EXPECT_DOUBLE_EQ(n.y, c.expected.y);
    EXPECT_DOUBLE_EQ(n.z, c.expected.z);
    EXPECT_DOUBLE_EQ(n.w, c.expected.w);
  }
  EXPECT_NEAR((HomVec4{3.0, 0.0, 0.0, 4.0}.normalize().norm()), 1.0, 1e-10);
}

TEST(KernelHomVec4, NormalizeOfAntipodeIsTheAntipode) {
  const HomVec4 v{1.0, -2.0, 3.0, 4.0};
  const HomVec4 n = v.normalize();
  const HomVec4 m = HomVec4{-1.0, 2.0, -3.0, -4.0}.normalize();
  EXPECT_TRUE(samePointBits(m, HomVec4{-n.x, -n.y, -n.z, -n.w}));
}

TEST(KernelHomVec4, SameAndAntipodalPoints) {
  const HomVec4 p{1.0, 2.0, 3.0, 4.0};
  const HomVec4 zero{};
  const struct {
    const char* name;
    HomVec4 a, b;
    double tol;
    bool same;
  } cases[] = {
      {"axis and its negation", {1.0, 0.0, 0.0, 0.0}, {-1.0, 0.0, 0.0, 0.0}, 1e-8, true},
      {"positive multiple", p, {2.5, 5.0, 7.5, 10.0}, 1e-8, true},
      {"negative multiple", p, {-1.0, -2.0, -3.0, -4.0}, 1e-8, true},
      {"different point", p, {1.0, 2.0, 3.0, 5.0}, 1e-8, false},
      {"orthogonal", {1.0, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}, 1e-8, false},
      {"zero with itself", zero, zero, 1e-8, false},
      {"first norm below tol", {1e-9, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 0.0}, 1e-8, false},
      {"second norm below tol", {1.0, 0.0, 0.0, 0.0}, {1e-9, 0.0, 0.0, 0.0}, 1e-8, false},
      {"NaN coordinate", {kNaN, 0.0, 0.0, 1.0}, {0.0, 0.0, 0.0, 1.0}, 1e-8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HomVec4::isSamePoint(c.a, c.b, c.tol), c.same);
    EXPECT_EQ(HomVec4::isAntipodalTo(c.a, c.b, c.tol), c.same);
  }
}

TEST(KernelHomVec4, SamePointCosineMarginIsStrict) {
  // |cos| = 0.5 exactly: same point for tol 0.6 (0.5 > 0.4) but not for tol 0.5 (0.5 > 0.5 fails).
  const HomVec4 a{1.0, 0.0, 0.0, 0.0};
  const HomVec4 b{1.0, 1.0, 1.0, 1.0};
  EXPECT_TRUE(HomVec4::isSamePoint(a, b, 0.6));
  EXPECT_FALSE(HomVec4::isSamePoint(a, b, 0.5));
}

TEST(KernelHomVec4, PickBestCard) {
  const struct {
    const char* name;
    HomVec4 v;
    AffineCard expected;
  } cases[] = {
      {"w largest", {1.0, 2.0, 3.0, 4.0}, AffineCard::UW},
      {"x largest", {5.0, 1.0, 1.0, 1.0}, AffineCard::UX},
      {"y largest", {1.0, 6.0, 1.0, 1.0}, AffineCard::UY},
      {"z largest", {1.0, 1.0, 7.0, 1.0}, AffineCard::UZ},
      {"magnitude, not sign", {-5.0, 1.0, 1.0, 1.0}, AffineCard::UX},
      {"all tied: w first", {1.0, 1.0, 1.0, 1.0}, AffineCard::UW},
      {"x ties y", {2.0, 2.0, 1.0, 1.0}, AffineCard::UX},
      {"y ties z", {0.0, 3.0, 3.0, 0.0}, AffineCard::UY},
      {"w ties z", {0.0, 0.0, -3.0, 3.0}, AffineCard::UW},
      {"zero vector", {0.0, 0.0, 0.0, 0.0}, AffineCard::UW},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.v.pickBestCard(), c.expected);
  }
}

}  // namespace
}  // namespace orv
