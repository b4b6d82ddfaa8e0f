// Operator constructions: resonance, regularised projector, deformed product.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

using test::diag;
using test::sameBits;

// Rows (0, −1, 0, 0), (1, 0, 0, 0), (0, 0, 0, −1), (0, 0, 1, 0): orthogonal, no null space.
const PGL4 kOrthogonalJc =
    PGL4::init({0.0, 1.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, -1.0, 0.0});

TEST(KernelResonance, Cases) {
  const struct {
    const char* name;
    PGL4 a;
    PGL4 expected;
  } cases[] = {
      // Element (r, c) = 4c + r + 1 gives 3·(c − r).
      {"counting matrix", PGL4::init({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
       PGL4::fromRowMajor({{{0, 3, 6, 9}, {-3, 0, 3, 6}, {-6, -3, 0, 3}, {-9, -6, -3, 0}}})},
      {"identity", PGL4::identity(), PGL4{}},
      {"symmetric", PGL4::fromRowMajor({{{1, 2, 3, 4}, {2, 5, 6, 7}, {3, 6, 8, 9}, {4, 7, 9, 10}}}),
       PGL4{}},
      // No factor ½: the antisymmetric part of this matrix is half the result.
      {"antisymmetric doubles", kOrthogonalJc, PGL4::mul(kOrthogonalJc, diag(2.0, 2.0, 2.0, 2.0))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(computeResonance(c.a), c.expected);
  }
}

TEST(KernelResonance, ExactlyAntisymmetricForAnyFiniteMatrix) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  for (int n = 0; n < 100; ++n) {
    PGL4 a;
    for (auto& x : a.data)
      x = u(rng);
    const PGL4 j = computeResonance(a);
    for (unsigned r = 0; r < 4; ++r) {
      EXPECT_EQ(test::bits(j.get(r, r)), test::bits(0.0));
      for (unsigned c = 0; c < 4; ++c)
        ASSERT_EQ(j.get(r, c), -j.get(c, r)) << r << ", " << c;
    }
  }
}

TEST(KernelProjector, Cases) {
  const double delta = 1e-8;
  const double two_delta = 2.0 * delta;
  const struct {
    const char* name;
    PGL4 jc;
    PGL4 expected;
    double tol;
  } cases[] = {
      // No null space: Π = 2δ·(Jcᵀ·Jc + 2δI)⁻¹ = 2δ/(1 + 2δ)·I.
      {"orthogonal", kOrthogonalJc, diag(two_delta, two_delta, two_delta, two_delta), 1e-12},
      {"identity", PGL4::identity(), diag(two_delta, two_delta, two_delta, two_delta), 1e-12},
      // The null space is spanned by the third and fourth axes. The inverse runs all 8 steps
      // without meeting its test (the 2δ diagonal elements converge far more slowly), yet the
      // zero rows of Jc keep them out of the product.
      {"rank two", diag(1.0, 1.0, 0.0, 0.0), diag(two_delta, two_delta, 1.0, 1.0), 1e-12},
      {"zero matrix", PGL4{}, PGL4::identity(), 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PGL4 pi = computeProjector(c.jc, delta);
    for (unsigned i = 0; i < 16; ++i)
      EXPECT_NEAR(pi.data[i], c.expected.data[i], c.tol) << i;
  }
}

TEST(KernelProjector, ZeroShiftOnIdentityLeavesRoundingOnly) {
  const PGL4 pi = computeProjector(PGL4::identity(), 0.0);
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_NEAR(pi.data[i], 0.0, 1e-15) << i;
}

TEST(KernelProjector, IdentityOnTheNullSpace) {
  // Jc·v = 0 makes the subtracted part exactly 0 on v, whatever the inverse returned.
  const PGL4 jc = PGL4::fromRowMajor({{{1, 2, 0, 1}, {0, 1, 1, 0}, {1, 3, 1, 1}, {0, 0, 0, 0}}});
  const HomVec4 null_vectors[] = {{-2.0, 1.0, -1.0, 0.0}, {-1.0, 0.0, 0.0, 1.0}};
  const PGL4 pi = computeProjector(jc, 1e-8);
  for (const HomVec4& v : null_vectors) {
    ASSERT_PRED2(test::samePointBits, jc.apply(v), HomVec4{});
    const HomVec4 got = pi.apply(v);
    EXPECT_NEAR(got.x, v.x, 1e-12);
    EXPECT_NEAR(got.y, v.y, 1e-12);
    EXPECT_NEAR(got.z, v.z, 1e-12);
    EXPECT_NEAR(got.w, v.w, 1e-12);
  }
}

TEST(KernelProjector, AssociatesAsJctTimesInverseThenJc) {
  // The subtracted part is (Jcᵀ·(Jc·Jcᵀ + 2δI)⁻¹)·Jc, formed in exactly that grouping.
  const PGL4 jc = PGL4::fromRowMajor({{{0.3, 1.7, -0.2, 0.9},
                                       {1.1, -0.4, 0.8, 0.05},
                                       {0.0, 0.6, 1.3, -0.7},
                                       {0.2, 0.0, 0.1, 1.9}}});
  const double delta = 1e-3;
  const PGL4 jct = jc.transpose();
  PGL4 jjt = PGL4::mul(jc, jct);
  for (unsigned i = 0; i < 4; ++i)
    jjt.set(i, i, jjt.get(i, i) + delta);
  const PGL4 part = PGL4::mul(PGL4::mul(jct, jjt.inverse(delta, 8)), jc);
  PGL4 expected;
  for (unsigned i = 0; i < 16; ++i)
    expected.data[i] = PGL4::identity().data[i] - part.data[i];
  EXPECT_PRED2(sameBits, computeProjector(jc, delta), expected);
}

TEST(KernelDeformedProduct, Epsilons) {
  const PGL4 a = pglScale(2.0, 1.0, 1.0);
  const PGL4 b = pglTranslate(3.0, 0.0, 0.0);
  const struct {
    const char* name;
    double epsilon;
    PGL4::Rows rows;
  } cases[] = {
      {"0 is the product", 0.0, {{{2, 0, 0, 6}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}},
      {"0.5", 0.5, {{{3, 0, 0, 6}, {0, 1.5, 0, 0}, {0, 0, 1.5, 0}, {0, 0, 0, 1.5}}}},
      {"1", 1.0, {{{4, 0, 0, 6}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 2}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(deformedTensorProduct(a, b, c.epsilon), PGL4::fromRowMajor(c.rows));
  }
  EXPECT_EQ(deformedTensorProduct(a, b, 0.0), PGL4::mul(a, b));
}

TEST(KernelDeformedProduct, FormsEpsilonTimesXFirst) {
  // (ε·x)·y and ε·(x·y) round differently for these values: ε·x = 1e308·10 overflows to +∞
  // while x·y = 10·0.1 = 1 keeps ε·(x·y) finite.
  const PGL4 x = diag(10.0, 1.0, 1.0, 1.0);
  const PGL4 y = diag(0.1, 1.0, 1.0, 1.0);
  const PGL4 d = deformedTensorProduct(x, y, 1e308);
  EXPECT_TRUE(std::isinf(d.data[0]));
  // Off the diagonal, ε·0·0 adds +0 to the product's 0.
  EXPECT_EQ(test::bits(d.data[1]), test::bits(0.0));
}

}  // namespace
}  // namespace orv
