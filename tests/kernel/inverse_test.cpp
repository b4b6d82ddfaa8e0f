// Newton–Schulz inverse: initial guess, step at which the residual test stops the iteration,
// shifted and singular matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

using test::diag;
using test::sameBits;

TEST(KernelInverse, ZeroStepsReturnTheInitialGuess) {
  // X0 = m_regᵀ/‖m_reg‖F²: diag(2, 3, 4, 1)/30.
  const PGL4 x = pglScale(2.0, 3.0, 4.0).inverse(0.0, 0);
  EXPECT_PRED2(sameBits, x, diag(2.0 / 30.0, 3.0 / 30.0, 4.0 / 30.0, 1.0 / 30.0));
  // The guess is the transpose scaled, here of a translation with ‖·‖F² = 4 + 100 + 400 + 900.
  const PGL4 t = pglTranslate(10.0, 20.0, 30.0).inverse(0.0, 0);
  EXPECT_EQ(t.get(3, 0), 10.0 / 1404.0);
  EXPECT_EQ(t.get(0, 3), 0.0);
}

// The residual test runs after every step and stops the iteration at once. Observed from outside:
// the result after n steps differs from the one after n − 1 (the iteration did not stop earlier)
// and equals the one allowed n + 50 steps, bit for bit (it stopped at step n).
TEST(KernelInverse, StepAtWhichTheResidualTestStops) {
  const struct {
    const char* name;
    PGL4 m;
    double delta;
    std::uint32_t steps;
  } cases[] = {
      {"identity", PGL4::identity(), 0.0, 7},
      {"scale, shifted by 1e-10", pglScale(2.0, 3.0, 4.0), 1e-10, 10},
      {"translation", pglTranslate(10.0, 20.0, 30.0), 0.0, 26},
      // After step 7 the residual is about 4.9e-12: still above 1e-12, so the test passes on
      // step 8 only.
      {"scale 1.56", pglScale(1.56, 1.0, 1.0), 0.0, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PGL4 before = c.m.inverse(c.delta, c.steps - 1);
    const PGL4 at = c.m.inverse(c.delta, c.steps);
    EXPECT_FALSE(sameBits(before, at)) << "stopped before step " << c.steps;
    EXPECT_PRED2(sameBits, at, c.m.inverse(c.delta, c.steps + 50));
  }
}

TEST(KernelInverse, ConvergedResults) {
  const double s = 1e-10;
  const struct {
    const char* name;
    PGL4 m;
    double delta;
    std::uint32_t max_iter;
    PGL4 expected;
    double tol;
  } cases[] = {
      {"identity", PGL4::identity(), 0.0, 7, PGL4::identity(), 1e-15},
      {"scale, shifted", pglScale(2.0, 3.0, 4.0), s, 15,
       diag(1.0 / (2.0 + s), 1.0 / (3.0 + s), 1.0 / (4.0 + s), 1.0 / (1.0 + s)), 1e-15},
      {"translation", pglTranslate(10.0, 20.0, 30.0), 0.0, 100, pglTranslate(-10.0, -20.0, -30.0),
       1e-12},
      {"rotation", pglRotateZ(1.0), 0.0, 100, pglRotateZ(-1.0), 1e-15},
      {"singular, shifted", diag(1.0, 1.0, 1.0, 0.0), 0.001, 50,
       diag(1.0 / 1.001, 1.0 / 1.001, 1.0 / 1.001, 1000.0), 1e-12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PGL4 x = c.m.inverse(c.delta, c.max_iter);
    for (unsigned i = 0; i < 16; ++i)
      EXPECT_NEAR(x.data[i], c.expected.data[i], c.tol) << i;
  }
}

TEST(KernelInverse, ShiftIsWhatTheSelfCheckAbsorbs) {
  // Inverting diag(2, 3, 4, 1) + 1e-10·I leaves m·x − I ≈ −1e-10/m_ii on the diagonal.
  const PGL4 m = pglScale(2.0, 3.0, 4.0);
  const PGL4 p = PGL4::mul(m, m.inverse(1e-10, 15));
  for (unsigned r = 0; r < 4; ++r) {
    EXPECT_NEAR(p.get(r, r), 1.0 - 1e-10 / m.get(r, r), 1e-15) << r;
    for (unsigned c = 0; c < 4; ++c) {
      if (c != r) {
        EXPECT_EQ(p.get(r, c), 0.0) << r << ", " << c;
      }
    }
  }
}

TEST(KernelInverse, TooFewStepsReturnTheLastIterate) {
  // The translation needs 26 steps; after 15 the iterate is still far from the inverse.
  const PGL4 x = pglTranslate(10.0, 20.0, 30.0).inverse(0.0, 15);
  EXPECT_GT(std::abs(x.data[12] - -10.0), 1.0);
}

TEST(KernelInverse, SingularMatrixRunsEveryStep) {
  // The residual of diag(1, 1, 1, 0) stays at 1 (element (3, 3)), so the test never passes; the
  // iterate reaches the pseudo-inverse diag(1, 1, 1, 0) and stays there.
  const PGL4 x = diag(1.0, 1.0, 1.0, 0.0).inverse(0.0, 50);
  EXPECT_EQ(x.get(3, 3), 0.0);
  for (unsigned i = 0; i < 3; ++i)
    EXPECT_NEAR(x.get(i, i), 1.0, 1e-15) << i;
  // diag(4, 0.01, 1, 0) converges slowly in its second element: every one of the first 24 steps
  // changes the result, although none can pass the residual test.
  const PGL4 slow = diag(4.0, 0.01, 1.0, 0.0);
  for (std::uint32_t k = 1; k <= 24; ++k) {
    ASSERT_FALSE(sameBits(slow.inverse(0.0, k - 1), slow.inverse(0.0, k))) << "step " << k;
  }
  const PGL4 p = slow.inverse(0.0, 60);
  EXPECT_NEAR(p.get(0, 0), 0.25, 1e-15);
  EXPECT_NEAR(p.get(1, 1), 100.0, 1e-12);
  EXPECT_NEAR(p.get(2, 2), 1.0, 1e-15);
  EXPECT_EQ(p.get(3, 3), 0.0);
}

TEST(KernelInverse, ZeroMatrixWithoutShiftIsNaN) {
  // ‖0‖F² = 0: the initial guess is 0/0 in every element.
  const PGL4 x = PGL4{}.inverse(0.0, 10);
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_TRUE(std::isnan(x.data[i])) << i;
  // With a shift it is delta·I, inverted like any diagonal matrix.
  const PGL4 y = PGL4{}.inverse(0.5, 50);
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_NEAR(y.data[i], i % 5 == 0 ? 2.0 : 0.0, 1e-14) << i;
}

}  // namespace
}  // namespace orv
