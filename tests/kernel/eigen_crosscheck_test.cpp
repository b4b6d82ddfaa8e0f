// Independent cross-checks of det, mul, apply and the converged inverse against Eigen, on seeded
// random well-conditioned matrices.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "kernel/kernel_test_util.hpp"
#include "orv/kernel.hpp"

namespace orv {
namespace {

using Mat = Eigen::Matrix4d;  // column-major, like PGL4
constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr int kCases = 300;

Mat toEigen(const PGL4& m) {
  Mat e;
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned c = 0; c < 4; ++c)
      e(r, c) = m.get(r, c);
  }
  return e;
}

// Off-diagonal elements in [−1, 1], diagonal elements of magnitude in [4, 5] with random sign:
// every row is diagonally dominant with margin at least 1, so ‖A⁻¹‖∞ ≤ 1, ‖A‖∞ ≤ 8 and the
// condition number in the ∞-norm is at most 8.
class WellConditioned {
 public:
  explicit WellConditioned(std::uint64_t seed) : rng_(seed) {}

  PGL4 next() {
    PGL4 m;
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c) {
        m.set(r, c, r == c ? (sign_(rng_) ? 1.0 : -1.0) * (4.0 + unit_(rng_)) : off_(rng_));
      }
    }
    return m;
  }
  HomVec4 point() { return {off_(rng_), off_(rng_), off_(rng_), off_(rng_)}; }

 private:
  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> off_{-1.0, 1.0};
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  std::bernoulli_distribution sign_{0.5};
};

// Σ over the 24 permutations of |a(0,σ0)·a(1,σ1)·a(2,σ2)·a(3,σ3)|: the permanent of |A|.
double permanentOfAbs(const Mat& a) {
  int p[4] = {0, 1, 2, 3};
  double sum = 0.0;
  do {
    sum += std::abs(a(0, p[0]) * a(1, p[1]) * a(2, p[2]) * a(3, p[3]));
  } while (std::next_permutation(p, p + 4));
  return sum;
}

TEST(KernelEigenCrossCheck, Determinant) {
  // Both results are the determinant up to a few roundings of terms whose magnitudes sum to at
  // most perm(|A|): the expansion along row 0 rounds each of its 24 products and partial sums a
  // handful of times, and LU with partial pivoting on a diagonally dominant matrix (growth factor
  // ≤ 2) has a backward error of the same order. 32·ε·perm(|A|) covers both with room to spare.
  WellConditioned gen(0x5eed0001);
  for (int n = 0; n < kCases; ++n) {
    const PGL4 m = gen.next();
    const Mat e = toEigen(m);
    const double tol = 32.0 * kEps * permanentOfAbs(e);
    ASSERT_NEAR(m.det(), e.determinant(), tol) << "case " << n;
    ASSERT_GE(std::abs(m.det()), 1.0) << "case " << n << ": |λ| ≥ 1 for every eigenvalue";
  }
}

TEST(KernelEigenCrossCheck, ProductAndAction) {
  // Each element is a 4-term dot product. Summed in any order, the rounding error is at most
  // γ₄·Σ|a(r,k)·b(k,c)| with γ₄ = 4ε/(1 − 4ε); the two results differ by at most twice that,
  // bounded here by 8.5·ε·(|A|·|B|)(r, c), and likewise for M·v.
  WellConditioned gen(0x5eed0002);
  for (int n = 0; n < kCases; ++n) {
    const PGL4 a = gen.next();
    const PGL4 b = gen.next();
    const HomVec4 v = gen.point();
    const Mat ea = toEigen(a);
    const Mat eb = toEigen(b);
    const Mat expected = ea * eb;
    const Mat bound = ea.cwiseAbs() * eb.cwiseAbs();
    const PGL4 p = PGL4::mul(a, b);
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c) {
        ASSERT_NEAR(p.get(r, c), expected(r, c), 8.5 * kEps * bound(r, c))
            << "case " << n << " element " << r << ", " << c;
      }
    }
    const Eigen::Vector4d ev(v.x, v.y, v.z, v.w);
    const Eigen::Vector4d expected_v = ea * ev;
    const Eigen::Vector4d bound_v = ea.cwiseAbs() * ev.cwiseAbs();
    const HomVec4 got = a.apply(v);
    const double lanes[4] = {got.x, got.y, got.z, got.w};
    for (int r = 0; r < 4; ++r) {
      ASSERT_NEAR(lanes[r], expected_v(r), 8.5 * kEps * bound_v(r)) << "case " << n << " row " << r;
    }
  }
}

TEST(KernelEigenCrossCheck, ConvergedInverse) {
  // X − A⁻¹ = A⁻¹·(A·X − I). The iteration stops once every element of A·X − I is below 1e-12,
  // so each element of X − A⁻¹ is at most ‖A⁻¹‖∞·4·1e-12 ≤ 4e-12 (‖A⁻¹‖∞ ≤ 1 for these matrices);
  // Eigen's own error, about cond·ε ≈ 1e-15, is negligible beside it. The bound 5e-12 is met
  // only by a converged result: 100 steps are far more than these matrices need.
  WellConditioned gen(0x5eed0003);
  for (int n = 0; n < kCases; ++n) {
    const PGL4 m = gen.next();
    const Mat expected = toEigen(m).inverse();
    const PGL4 x = m.inverse(0.0, 100);
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c) {
        ASSERT_NEAR(x.get(r, c), expected(r, c), 5e-12)
            << "case " << n << " element " << r << ", " << c;
      }
    }
    // It stopped on the residual test, not on the step bound.
    ASSERT_EQ(x, m.inverse(0.0, 200)) << "case " << n;
  }
}

TEST(KernelEigenCrossCheck, ShiftedInverse) {
  // The shift is added to the diagonal before inverting: the result inverts A + δI.
  WellConditioned gen(0x5eed0004);
  for (int n = 0; n < 50; ++n) {
    const PGL4 m = gen.next();
    const double delta = 0.5;
    const Mat expected = (toEigen(m) + delta * Mat::Identity()).inverse();
    const PGL4 x = m.inverse(delta, 100);
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c) {
        // ‖(A + δI)⁻¹‖∞ ≤ 1/(1 − δ) = 2 when the diagonal's sign opposes δ.
        ASSERT_NEAR(x.get(r, c), expected(r, c), 1e-11)
            << "case " << n << " element " << r << ", " << c;
      }
    }
  }
}

}  // namespace
}  // namespace orv
