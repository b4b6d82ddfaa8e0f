// 4×4 projective transformations: storage order, action, product, determinant, normalisation,
// constructors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using test::bits;
using test::diag;
using test::sameBits;
using test::samePointBits;

constexpr PGL4 kRows = PGL4::fromRowMajor({{{1.0, 2.0, 3.0, 4.0},
                                            {5.0, 6.0, 7.0, 8.0},
                                            {9.0, 10.0, 11.0, 12.0},
                                            {13.0, 14.0, 15.0, 16.0}}});

// Storage order, constructors and the product's direction are settled when the program is built.
static_assert(kRows.data[0] == 1.0 && kRows.data[4] == 2.0 && kRows.data[8] == 3.0 &&
              kRows.data[12] == 4.0 && kRows.data[1] == 5.0);
static_assert(kRows.get(0, 3) == 4.0 && kRows.get(3, 0) == 13.0);
static_assert(PGL4::init(kRows.data).transpose() == kRows.transpose());
static_assert(kRows.transpose().transpose() == kRows);
static_assert(PGL4::init({1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0,
                          15.0, 16.0}) == kRows.transpose());
static_assert(PGL4::mul(kRows, PGL4::identity()) == kRows);
static_assert(PGL4::mul(PGL4::identity(), kRows) == kRows);
static_assert(PGL4::mul(pglTranslate(10.0, 20.0, 30.0), pglScale(2.0, 3.0, 4.0))
                  .apply({1.0, 1.0, 1.0, 1.0}) == HomVec4{12.0, 23.0, 34.0, 1.0});
static_assert(PGL4::mul(pglScale(2.0, 3.0, 4.0), pglTranslate(10.0, 20.0, 30.0))
                  .apply({1.0, 1.0, 1.0, 1.0}) == HomVec4{22.0, 63.0, 124.0, 1.0});
static_assert(pglTranslate(10.0, 20.0, 30.0).apply({1.0, 2.0, 3.0, 0.0}) ==
              HomVec4{1.0, 2.0, 3.0, 0.0});
static_assert(PGL4::identity().det() == 1.0);
static_assert(pglScale(2.0, 3.0, 4.0).det() == 24.0);
static_assert(pglTranslate(-7.0, 0.5, 1e9).det() == 1.0);
static_assert(kRows.det() == 0.0);
static_assert(pglFromHomogeneous({{{2.0, 0.0, 0.0, 0.0},
                                   {0.0, 3.0, 0.0, 0.0},
                                   {0.0, 0.0, 4.0, 0.0},
                                   {0.0, 0.0, 0.0, 5.0}}})
                  .det() == 120.0);
static_assert(PGL4{}.data == std::array<double, 16>{});

TEST(KernelPGL4, Constructors) {
  const PGL4 r = pglRotateZ(0.3);
  const double c = std::cos(0.3);
  const double s = std::sin(0.3);
  const struct {
    const char* name;
    PGL4 m;
    PGL4::Rows rows;
  } cases[] = {
      {"identity", PGL4::identity(), {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}},
      {"translate",
       pglTranslate(10, 20, 30),
       {{{1, 0, 0, 10}, {0, 1, 0, 20}, {0, 0, 1, 30}, {0, 0, 0, 1}}}},
      {"scale", pglScale(2, 3, 4), {{{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {0, 0, 0, 1}}}},
      {"rotate z", r, {{{c, -s, 0, 0}, {s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_PRED2(sameBits, t.m, PGL4::fromRowMajor(t.rows));
  }
}

TEST(KernelPGL4, RotateZ) {
  const double q = std::numbers::pi / 2;
  const HomVec4 turned = pglRotateZ(q).apply({1.0, 0.0, 0.0, 1.0});
  EXPECT_NEAR(turned.x, 0.0, 1e-15);
  EXPECT_EQ(turned.y, 1.0);
  EXPECT_EQ(turned.w, 1.0);
  // (x, y, z, w) ↦ (c·x − s·y, s·x + c·y, z, w): z and w are left alone.
  const HomVec4 v = pglRotateZ(0.7).apply({2.0, -3.0, 5.0, 7.0});
  EXPECT_DOUBLE_EQ(v.x, std::cos(0.7) * 2.0 + std::sin(0.7) * 3.0);
  EXPECT_DOUBLE_EQ(v.y, std::sin(0.7) * 2.0 - std::cos(0.7) * 3.0);
  EXPECT_EQ(v.z, 5.0);
  EXPECT_EQ(v.w, 7.0);
  for (const double angle : {-2.5, -0.1, 0.0, 0.7853981633974483, 1.0, 3.0, 100.0}) {
    SCOPED_TRACE(angle);
    const PGL4 m = pglRotateZ(angle);
    EXPECT_NEAR(m.det(), 1.0, 4 * std::numeric_limits<double>::epsilon());
    const HomVec4 p{1.0, 0.0, 0.0, 1.0};
    EXPECT_NEAR(m.apply(p).norm(), p.norm(), 1e-15);
    // Rotations about one axis compose by adding angles.
    const PGL4 twice = PGL4::mul(m, pglRotateZ(0.25));
    const PGL4 sum = pglRotateZ(angle + 0.25);
    for (unsigned i = 0; i < 16; ++i)
      EXPECT_NEAR(twice.data[i], sum.data[i], 1e-13) << i;
  }
}

TEST(KernelPGL4, Determinant) {
  const struct {
    const char* name;
    PGL4 m;
    double expected;
  } cases[] = {
      {"identity", PGL4::identity(), 1.0},
      {"scale", pglScale(2.0, 3.0, 4.0), 24.0},
      {"translation", pglTranslate(10.0, -20.0, 30.0), 1.0},
      {"zero row", PGL4::fromRowMajor({{{1, 2, 3, 4}, {0, 0, 0, 0}, {5, 6, 7, 8}, {1, 0, 0, 1}}}),
       0.0},
      {"zero column",
       PGL4::fromRowMajor({{{1, 0, 3, 4}, {2, 0, 3, 1}, {5, 0, 7, 8}, {1, 0, 0, 1}}}), 0.0},
      {"row swap flips the sign",
       PGL4::fromRowMajor({{{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}), -1.0},
      // Integer entries: every intermediate of the expansion is exact.
      {"integers",
       PGL4::fromRowMajor({{{2, -1, 0, 3}, {1, 4, -2, 0}, {0, 5, 1, -1}, {3, 0, 2, 1}}}), -103.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.m.det(), c.expected);
    EXPECT_EQ(c.m.transpose().det(), c.expected);
  }
}

// M·adj(M) = det(M)·I with adj(M)(r, c) = cofactor(c, r), exactly on integer matrices (every
// intermediate is a small integer); the singular matrices give a zero product.
TEST(KernelPGL4, CofactorsGiveTheAdjugate) {
  const PGL4 matrices[] = {
      PGL4::fromRowMajor({{{2, -1, 0, 3}, {1, 4, -2, 0}, {0, 5, 1, -1}, {3, 0, 2, 1}}}),
      PGL4::fromRowMajor({{{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}),
      PGL4::fromRowMajor({{{1, 2, 3, 4}, {0, 0, 0, 0}, {5, 6, 7, 8}, {1, 0, 0, 1}}}),
      pglTranslate(10.0, -20.0, 30.0),
  };
  for (const PGL4& m : matrices) {
    PGL4 adjugate;
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c)
        adjugate.set(r, c, m.cofactor(c, r));
    }
    const PGL4 product = PGL4::mul(m, adjugate);
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c)
        EXPECT_EQ(product.get(r, c), r == c ? m.det() : 0.0) << r << ", " << c;
    }
  }
  static_assert(pglScale(2.0, 3.0, 4.0).cofactor(3, 3) == 24.0);
  static_assert(PGL4::identity().cofactor(0, 1) == 0.0);
}

TEST(KernelPGL4, DeterminantExpandsAlongRowZeroInOrder) {
  // The lower rows give row 0 the minors (1, −1, 1, 1), so the expansion's terms are 2⁵³, +1, +1
  // and −2⁵³. Left to right, 2⁵³ + 1 rounds to 2⁵³ (tie to even) twice and the result is 0; the
  // exact determinant is 2, and summing the terms in pairs gives 1.
  const PGL4 m = PGL4::fromRowMajor({{{0x1p53, 1.0, 1.0, 0x1p53},
                                      {0.0, 0.0, 1.0, 1.0},
                                      {0.0, 1.0, 0.0, 1.0},
                                      {-1.0, 0.0, 0.0, -1.0}}});
  EXPECT_EQ(m.det(), 0.0);
}

TEST(KernelPGL4, NormalizeDet) {
  const struct {
    const char* name;
    PGL4 m;
    PGL4 expected;
  } cases[] = {
      {"det -16 scales by 1/2", pglScale(-2.0, 2.0, 4.0), diag(-1.0, 1.0, 2.0, 0.5)},
      {"det 16 scales by 1/2", diag(2.0, 2.0, 2.0, 2.0), PGL4::identity()},
      {"det 1 unchanged", pglTranslate(1.0, 2.0, 3.0), pglTranslate(1.0, 2.0, 3.0)},
      {"zero matrix unchanged", PGL4{}, PGL4{}},
      {"singular unchanged", kRows, kRows},
      {"det below 1e-15 unchanged", diag(9.99e-16, 1.0, 1.0, 1.0), diag(9.99e-16, 1.0, 1.0, 1.0)},
      {"det -9.99e-16 unchanged", diag(-9.99e-16, 1.0, 1.0, 1.0), diag(-9.99e-16, 1.0, 1.0, 1.0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PGL4 n = c.m.normalizeDet();
    for (unsigned i = 0; i < 16; ++i)
      EXPECT_DOUBLE_EQ(n.data[i], c.expected.data[i]) << i;
  }
}

TEST(KernelPGL4, NormalizeDetThresholdIsStrictAndKeepsTheSign) {
  // diag(d, 1, 1, 1) has determinant exactly d.
  const struct {
    double d;
    double expected_det;
  } cases[] = {{1e-15, 1.0}, {-1e-15, -1.0}, {24.0, 1.0}, {-3.0, -1.0}, {1e300, 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.d);
    const PGL4 m = diag(c.d, 1.0, 1.0, 1.0);
    ASSERT_EQ(m.det(), c.d);
    const PGL4 n = m.normalizeDet();
    EXPECT_NEAR(n.det(), c.expected_det, 8 * std::numeric_limits<double>::epsilon());
    const double scale = std::pow(std::abs(c.d), -0.25);
    EXPECT_EQ(n.data[5], scale);
    EXPECT_EQ(n.data[0], c.d * scale);
  }
}

TEST(KernelPGL4, NormalizeDetOfGeneralMatrix) {
  const PGL4 m = PGL4::fromRowMajor({{{2, -1, 0, 3}, {1, 4, -2, 0}, {0, 5, 1, -1}, {3, 0, 2, 1}}});
  const PGL4 n = m.normalizeDet();
  EXPECT_NEAR(n.det(), -1.0, 1e-14);
  // Every element is scaled by the same positive factor.
  const double scale = std::pow(103.0, -0.25);
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_EQ(n.data[i], m.data[i] * scale) << i;
}

TEST(KernelPGL4, NonFiniteElementsPropagate) {
  PGL4 m = PGL4::identity();
  m.set(2, 1, kNaN);
  EXPECT_TRUE(std::isnan(m.det()));
  const HomVec4 v = m.apply({0.0, 1.0, 0.0, 1.0});
  EXPECT_EQ(v.x, 0.0);
  EXPECT_TRUE(std::isnan(v.z));
  const PGL4 n = m.normalizeDet();
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_TRUE(std::isnan(n.data[i])) << i;
}

// ---------------------------------------------------------------------------------------------
// Bit-exactness: apply and mul equal a plain loop that sums from 0.0 in index order, one
// multiplication then one addition per term, no fused multiply-add (the tests compile with the
// kernel's -ffp-contract=off).

HomVec4 referenceApply(const PGL4& m, const HomVec4& v) {
  const double in[4] = {v.x, v.y, v.z, v.w};
  double out[4];
  for (unsigned r = 0; r < 4; ++r) {
    double sum = 0.0;
    for (unsigned c = 0; c < 4; ++c) {
      const double product = m.data[c * 4 + r] * in[c];
      sum = sum + product;
    }
    out[r] = sum;
  }
  return {out[0], out[1], out[2], out[3]};
}

PGL4 referenceMul(const PGL4& a, const PGL4& b) {
  PGL4 result;
  for (unsigned c = 0; c < 4; ++c) {
    for (unsigned r = 0; r < 4; ++r) {
      double sum = 0.0;
      for (unsigned k = 0; k < 4; ++k) {
        const double product = a.data[k * 4 + r] * b.data[c * 4 + k];
        sum = sum + product;
      }
      result.data[c * 4 + r] = sum;
    }
  }
  return result;
}

// 1 + 2⁻³⁰ squared is 1 + 2⁻²⁹ + 2⁻⁶⁰; rounded, the 2⁻⁶⁰ is lost, and a fused multiply-add
// keeps it.
constexpr double kOnePlus = 1.0 + 0x1p-30;
constexpr double kSquareRounded = 1.0 + 0x1p-29;

TEST(KernelPGL4BitExact, ApplyOnCraftedRows) {
  const struct {
    const char* name;
    std::array<double, 4> row;
    HomVec4 v;
    double expected;
  } cases[] = {
      // ((2⁵³ + 1) + 1) − 2⁵³ = 0, each + 1 rounding back to 2⁵³ (tie to even); in pairs the sum
      // is 2⁵³ + (1 − 2⁵³) = 1, in reverse order 2.
      {"left to right", {0x1p53, 1.0, 1.0, -0x1p53}, {1.0, 1.0, 1.0, 1.0}, 0.0},
      // (−(1 + 2⁻²⁹) + (1 + 2⁻³⁰)²): rounding the product first gives 0, a fused one 2⁻⁶⁰.
      {"no fused multiply-add",
       {-kSquareRounded, kOnePlus, 0.0, 0.0},
       {1.0, kOnePlus, 0.0, 0.0},
       0.0},
      // 0.0 + (−0.0) = +0.0: the sum starts at +0, not at the first product.
      {"sum starts at +0", {-1.0, -1.0, -1.0, -1.0}, {0.0, 0.0, 0.0, 0.0}, 0.0},
      {"-0 inputs", {1.0, 2.0, 3.0, 4.0}, {-0.0, -0.0, -0.0, -0.0}, 0.0},
      {"last term decides", {1.0, 1e-16, 1e-16, -1.0}, {1.0, 1.0, 1.0, 1.0}, 0.0},
      // Where the sum's 0 is added matters for the sign of zeros alone: −0 products before a
      // last one of either sign.
      {"three -0 products, then +0", {-1.0, -1.0, -1.0, 1.0}, {0.0, 0.0, 0.0, 0.0}, 0.0},
      {"three -0 products, then -2", {-1.0, -1.0, -1.0, -2.0}, {0.0, 0.0, 0.0, 1.0}, -2.0},
      {"-0, +0, -0, -0", {-1.0, 1.0, -1.0, -1.0}, {0.0, 0.0, 0.0, 0.0}, 0.0},
      {"-0 products after a negative one", {-3.0, -1.0, -1.0, -1.0}, {1.0, 0.0, 0.0, 0.0}, -3.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (unsigned r = 0; r < 4; ++r) {
      SCOPED_TRACE(r);
      PGL4 m;
      for (unsigned col = 0; col < 4; ++col)
        m.set(r, col, c.row[col]);
      const HomVec4 got = m.apply(c.v);
      const double lanes[4] = {got.x, got.y, got.z, got.w};
      EXPECT_EQ(bits(lanes[r]), bits(c.expected)) << lanes[r];
      EXPECT_PRED2(samePointBits, got, referenceApply(m, c.v));
    }
  }
}

TEST(KernelPGL4BitExact, MulOnCraftedEntries) {
  // Row 0 of a against column 1 of b: the sums of the cases above.
  const struct {
    const char* name;
    std::array<double, 4> row;
    std::array<double, 4> col;
    double expected;
  } cases[] = {
      {"left to right", {0x1p53, 1.0, 1.0, -0x1p53}, {1.0, 1.0, 1.0, 1.0}, 0.0},
      {"no fused multiply-add",
       {-kSquareRounded, kOnePlus, 0.0, 0.0},
       {1.0, kOnePlus, 0.0, 0.0},
       0.0},
      {"sum starts at +0", {-1.0, -1.0, -1.0, -1.0}, {0.0, 0.0, 0.0, 0.0}, 0.0},
      {"-0 inputs", {-0.0, -0.0, -0.0, -0.0}, {1.0, 2.0, 3.0, 4.0}, 0.0},
      {"three -0 products, then +0", {-1.0, -1.0, -1.0, 1.0}, {0.0, 0.0, 0.0, 0.0}, 0.0},
      {"three -0 products, then -2", {-1.0, -1.0, -1.0, -2.0}, {0.0, 0.0, 0.0, 1.0}, -2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PGL4 a = PGL4::identity();
    PGL4 b = PGL4::identity();
    for (unsigned k = 0; k < 4; ++k) {
      a.set(0, k, c.row[k]);
      b.set(k, 1, c.col[k]);
    }
    const PGL4 p = PGL4::mul(a, b);
    EXPECT_EQ(bits(p.get(0, 1)), bits(c.expected)) << p.get(0, 1);
    EXPECT_PRED2(sameBits, p, referenceMul(a, b));
  }
}

TEST(KernelPGL4BitExact, RandomMatricesMatchThePlainLoop) {
  // Mixed magnitudes and signs make every rounding order visible; −0 elements are included.
  std::mt19937_64 rng(0x6f72765f6b65726eULL);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::uniform_int_distribution<int> pick(0, 15);
  const auto element = [&] {
    const int p = pick(rng);
    if (p == 0) return -0.0;
    if (p == 1) return 0.0;
    return std::ldexp(mantissa(rng), exponent(rng));
  };
  for (int n = 0; n < 500; ++n) {
    PGL4 a;
    PGL4 b;
    for (auto& x : a.data)
      x = element();
    for (auto& x : b.data)
      x = element();
    const HomVec4 v{element(), element(), element(), element()};
    ASSERT_PRED2(sameBits, PGL4::mul(a, b), referenceMul(a, b)) << "case " << n;
    ASSERT_PRED2(samePointBits, a.apply(v), referenceApply(a, v)) << "case " << n;
  }
}

TEST(KernelPGL4BitExact, ProductAppliesRightFactorFirst) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> small(-8, 8);
  // Small integers keep every product and sum exact, so both sides agree to the bit.
  for (int n = 0; n < 100; ++n) {
    PGL4 a;
    PGL4 b;
    for (auto& x : a.data)
      x = small(rng);
    for (auto& x : b.data)
      x = small(rng);
    const HomVec4 v{double(small(rng)), double(small(rng)), double(small(rng)), 1.0};
    ASSERT_PRED2(samePointBits, PGL4::mul(a, b).apply(v), a.apply(b.apply(v))) << "case " << n;
    ASSERT_EQ(PGL4::mul(a, b).det(), a.det() * b.det()) << "case " << n;
  }
}

}  // namespace
}  // namespace orv
