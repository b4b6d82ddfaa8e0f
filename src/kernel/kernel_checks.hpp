// The self-checks of orv_kernel, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::kernel_checks {

check::Result homVec4Constructors();
check::Result homVec4Normalization();
check::Result homVec4DotAndSamePoint();
check::Result homVec4Antipodal();
check::Result homVec4AffineCard();
check::Result fsDistanceKnownValues();
check::Result pglIdentityAction();
check::Result pglDeterminant();
check::Result pglNewtonSchulzInverse();
check::Result pglTranslationAndScale();
check::Result pglNormalizeDet();
check::Result pglRotationPreservesNorm();
check::Result simdDotAndNormalize();
check::Result cordicInverseSqrt();
check::Result resonanceIsAntisymmetric();
check::Result projectorIsIdempotent();
check::Result deformedProductAtZero();
check::Result distanceRoundTrip();
check::Result pglFromHomogeneousRegular();

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
