// The self-checks of orv_kernel: the checks, then their table in registration order. A check is a
// function here and a row in `checks`; the runner's registry is built from this table.
#pragma once

#include <array>
#include <cmath>

#include "check.hpp"
#include "orv/kernel.hpp"

namespace orv::kernel_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

inline Result homVec4Constructors() {
  const HomVec4 v = HomVec4::fromCartesian(3.0, 4.0, 5.0);
  ORV_TRY(expectApproxEqAbs(v.x, 3.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(v.y, 4.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(v.z, 5.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(v.w, 1.0, 1e-10));
  const auto c = v.cartesian3();
  ORV_TRY(expectApproxEqAbs(c[0], 3.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(c[1], 4.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(c[2], 5.0, 1e-10));
  const auto u = HomVec4::init(2.0, 4.0, 6.0, 2.0).cartesian3();
  ORV_TRY(expectApproxEqAbs(u[0], 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(u[1], 2.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(u[2], 3.0, 1e-10));
  return success;
}

inline Result homVec4Normalization() {
  const HomVec4 n = HomVec4::init(3.0, 0.0, 0.0, 4.0).normalize();
  ORV_TRY(expectApproxEqAbs(n.norm(), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(n.x, 0.6, 1e-10));
  ORV_TRY(expectApproxEqAbs(n.w, 0.8, 1e-10));
  return success;
}

inline Result homVec4DotAndSamePoint() {
  const HomVec4 a = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  const HomVec4 b = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  const HomVec4 c = HomVec4::init(0.0, 1.0, 0.0, 0.0);
  const HomVec4 neg_a = HomVec4::init(-1.0, 0.0, 0.0, 0.0);
  ORV_TRY(expectApproxEqAbs(HomVec4::dot(a, b), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(HomVec4::dot(a, c), 0.0, 1e-10));
  ORV_TRY(expect(HomVec4::isSamePoint(a, neg_a, 1e-8)));
  return success;
}

inline Result homVec4Antipodal() {
  const HomVec4 p = HomVec4::init(1.0, 2.0, 3.0, 4.0);
  const HomVec4 neg_p = HomVec4::init(-1.0, -2.0, -3.0, -4.0);
  const HomVec4 other = HomVec4::init(1.0, 2.0, 3.0, 5.0);
  ORV_TRY(expect(HomVec4::isAntipodalTo(p, neg_p, 1e-8)));
  ORV_TRY(expect(!HomVec4::isAntipodalTo(p, other, 1e-8)));
  return success;
}

inline Result homVec4AffineCard() {
  ORV_TRY(expect(HomVec4::init(1.0, 2.0, 3.0, 4.0).pickBestCard() == AffineCard::UW));
  ORV_TRY(expect(HomVec4::init(5.0, 1.0, 1.0, 1.0).pickBestCard() == AffineCard::UX));
  ORV_TRY(expect(HomVec4::init(1.0, 6.0, 1.0, 1.0).pickBestCard() == AffineCard::UY));
  ORV_TRY(expect(HomVec4::init(1.0, 1.0, 7.0, 1.0).pickBestCard() == AffineCard::UZ));
  return success;
}

inline Result fsDistanceKnownValues() {
  const HomVec4 e0 = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  const HomVec4 e1 = HomVec4::init(0.0, 1.0, 0.0, 0.0);
  ORV_TRY(expectApproxEqAbs(fsDistance(e0, e0), 0.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(fsDistance(e0, e1), 1.5707963267948966, 1e-10));
  const HomVec4 p = HomVec4::init(1.0, 0.0, 0.0, 1.0).normalize();
  const HomVec4 neg_p = HomVec4::init(-1.0, 0.0, 0.0, -1.0).normalize();
  ORV_TRY(expectApproxEqAbs(fsDistance(p, neg_p), 0.0, W_EPS));
  ORV_TRY(expectApproxEqAbs(fsDistance(e0.normalize(), p), 0.7853981633974483, 1e-10));
  return success;
}

inline Result pglIdentityAction() {
  const HomVec4 r = PGL4::identity().apply(HomVec4::init(3.0, 4.0, 5.0, 1.0));
  ORV_TRY(expectApproxEqAbs(r.x, 3.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(r.y, 4.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(r.z, 5.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(r.w, 1.0, 1e-10));
  return success;
}

inline Result pglDeterminant() {
  ORV_TRY(expectApproxEqAbs(PGL4::identity().det(), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(pglScale(2.0, 3.0, 4.0).det(), 24.0, 1e-10));
  return success;
}

inline Result pglNewtonSchulzInverse() {
  const PGL4 m = pglScale(2.0, 3.0, 4.0);
  const PGL4 x = m.inverse(1e-10, 15);
  const PGL4 p = PGL4::mul(m, x);
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned c = 0; c < 4; ++c) {
      ORV_TRY(expectApproxEqAbs(p.get(r, c), r == c ? 1.0 : 0.0, W_EPS));
    }
  }
  return success;
}

inline Result pglTranslationAndScale() {
  const HomVec4 moved = pglTranslate(10.0, 20.0, 30.0).apply(HomVec4::init(1.0, 2.0, 3.0, 1.0));
  const auto c = moved.cartesian3();
  ORV_TRY(expectApproxEqAbs(c[0], 11.0, 1e-8));
  ORV_TRY(expectApproxEqAbs(c[1], 22.0, 1e-8));
  ORV_TRY(expectApproxEqAbs(c[2], 33.0, 1e-8));
  return success;
}

inline Result pglNormalizeDet() {
  const PGL4 n = pglScale(2.0, 3.0, 4.0).normalizeDet();
  ORV_TRY(expectApproxEqAbs(std::abs(n.det()), 1.0, W_EPS));
  return success;
}

inline Result pglRotationPreservesNorm() {
  const HomVec4 v = HomVec4::init(1.0, 0.0, 0.0, 1.0);
  const HomVec4 r = pglRotateZ(0.7853981633974483).apply(v);
  ORV_TRY(expectApproxEqAbs(r.norm(), v.norm(), 1e-10));
  return success;
}

inline Result simdDotAndNormalize() {
  const F32x4 a = f32x4(1.0f, 0.0f, 0.0f, 0.0f);
  const F32x4 b = f32x4(1.0f, 0.0f, 0.0f, 0.0f);
  const F32x4 c = f32x4(3.0f, 0.0f, 0.0f, 4.0f);
  const F32x4 n = simdNormalize3(c);
  ORV_TRY(expectApproxEqAbs(simdDot4(a, b), 1.0f, 1e-5f));
  ORV_TRY(expectApproxEqAbs(simdDot4(n, n), 1.0f, 1e-5f));
  return success;
}

inline Result cordicInverseSqrt() {
  ORV_TRY(expectApproxEqAbs(cordicInvSqrt(4.0), 0.5, 1e-10));
  ORV_TRY(expectApproxEqAbs(cordicInvSqrt(1.0), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(cordicInvSqrt(9.0), 0.3333333333333333, 1e-10));
  return success;
}

inline Result resonanceIsAntisymmetric() {
  const PGL4 a = PGL4::init(
      {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0, 15.0, 16.0});
  const PGL4 j = computeResonance(a);
  const PGL4 jt = j.transpose();
  for (unsigned row = 0; row < 4; ++row) {
    for (unsigned col = 0; col < 4; ++col) {
      ORV_TRY(expectApproxEqAbs(j.get(row, col), -jt.get(row, col), 1e-10));
    }
  }
  return success;
}

inline Result projectorIsIdempotent() {
  const PGL4 jc = PGL4::init(
      {0.0, 1.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, -1.0, 0.0});
  const PGL4 pi = computeProjector(jc, 1e-8);
  const PGL4 pi2 = PGL4::mul(pi, pi);
  for (unsigned i = 0; i < 16; ++i)
    ORV_TRY(expectApproxEqAbs(pi2.data[i], pi.data[i], 1e-4));
  return success;
}

inline Result deformedProductAtZero() {
  const PGL4 a = pglScale(2.0, 1.0, 1.0);
  const PGL4 b = pglTranslate(3.0, 0.0, 0.0);
  const PGL4 standard = PGL4::mul(a, b);
  const PGL4 deformed = deformedTensorProduct(a, b, 0.0);
  for (unsigned i = 0; i < 16; ++i) {
    ORV_TRY(expectApproxEqAbs(deformed.data[i], standard.data[i], 1e-10));
  }
  return success;
}

inline Result distanceRoundTrip() {
  const double s = 1000.0;
  const double R = R_KALDRA_KM * 1000.0;
  const double W = wFromDistance(s, R);
  const double s_back = sFromW(W, R);
  ORV_TRY(expectApproxEqAbs(s_back, 1000.0, 0.01));
  return success;
}

// The singular case cannot be a run-time check: it is a build failure (tests/kernel builds it).
inline Result pglFromHomogeneousRegular() {
  constexpr PGL4 m = pglFromHomogeneous(
      {{{2.0, 0.0, 0.0, 0.0}, {0.0, 3.0, 0.0, 0.0}, {0.0, 0.0, 4.0, 0.0}, {0.0, 0.0, 0.0, 5.0}}});
  ORV_TRY(expectApproxEqAbs(m.det(), 120.0, W_EPS));
  return success;
}

// Registered name and function of every check, in registration order.
inline constexpr std::array checks{
    check::TestFn{"orv_kernel.test.HomVec4: constructors and cartesian dehomogenization",
                  &homVec4Constructors},
    check::TestFn{"orv_kernel.test.HomVec4: normalization on S³", &homVec4Normalization},
    check::TestFn{"orv_kernel.test.HomVec4: dot product and isSamePoint", &homVec4DotAndSamePoint},
    check::TestFn{"orv_kernel.test.HomVec4: antipodal check Z/2Z", &homVec4Antipodal},
    check::TestFn{"orv_kernel.test.HomVec4: affine card selection", &homVec4AffineCard},
    check::TestFn{"orv_kernel.test.Fubini-Study distance: known values", &fsDistanceKnownValues},
    check::TestFn{"orv_kernel.test.PGL4: identity action", &pglIdentityAction},
    check::TestFn{"orv_kernel.test.PGL4: determinant", &pglDeterminant},
    check::TestFn{"orv_kernel.test.PGL4: Newton-Schulz inverse", &pglNewtonSchulzInverse},
    check::TestFn{"orv_kernel.test.PGL4: translation and scale", &pglTranslationAndScale},
    check::TestFn{"orv_kernel.test.PGL4: normalizeDet → det ≈ 1", &pglNormalizeDet},
    check::TestFn{"orv_kernel.test.PGL4: rotation preserves norm", &pglRotationPreservesNorm},
    check::TestFn{"orv_kernel.test.SIMD: dot4 and normalize", &simdDotAndNormalize},
    check::TestFn{"orv_kernel.test.CORDIC inverse sqrt", &cordicInverseSqrt},
    check::TestFn{"orv_kernel.test.Resonance J = A − Aᵀ is antisymmetric",
                  &resonanceIsAntisymmetric},
    check::TestFn{"orv_kernel.test.Projector Π_Λ is idempotent: Π² = Π", &projectorIsIdempotent},
    check::TestFn{"orv_kernel.test.Deformed tensor product: ε=0 is standard mul",
                  &deformedProductAtZero},
    check::TestFn{"orv_kernel.test.w_from_distance / s_from_W round-trip", &distanceRoundTrip},
    check::TestFn{"orv_kernel.test.PGL4 comptime: pglFromHomogeneous rejects singular",
                  &pglFromHomogeneousRegular},
};

}  // namespace orv::kernel_checks
