// The kernel's registered self-checks: names and order as registered, and all of them pass.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "kernel/kernel_checks.hpp"

namespace orv {
namespace {

TEST(KernelChecks, RegisteredInOrder) {
  const std::string_view expected[] = {
      "orv_kernel.test.HomVec4: constructors and cartesian dehomogenization",
      "orv_kernel.test.HomVec4: normalization on S³",
      "orv_kernel.test.HomVec4: dot product and isSamePoint",
      "orv_kernel.test.HomVec4: antipodal check Z/2Z",
      "orv_kernel.test.HomVec4: affine card selection",
      "orv_kernel.test.Fubini-Study distance: known values",
      "orv_kernel.test.PGL4: identity action",
      "orv_kernel.test.PGL4: determinant",
      "orv_kernel.test.PGL4: Newton-Schulz inverse",
      "orv_kernel.test.PGL4: translation and scale",
      "orv_kernel.test.PGL4: normalizeDet → det ≈ 1",
      "orv_kernel.test.PGL4: rotation preserves norm",
      "orv_kernel.test.SIMD: dot4 and normalize",
      "orv_kernel.test.CORDIC inverse sqrt",
      "orv_kernel.test.Resonance J = A − Aᵀ is antisymmetric",
      "orv_kernel.test.Projector Π_Λ is idempotent: Π² = Π",
      "orv_kernel.test.Deformed tensor product: ε=0 is standard mul",
      "orv_kernel.test.w_from_distance / s_from_W round-trip",
      "orv_kernel.test.PGL4 comptime: pglFromHomogeneous rejects singular",
  };
  ASSERT_EQ(kernel_checks::checks.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(kernel_checks::checks[i].name, expected[i]) << "position " << i;
  }
}

TEST(KernelChecks, AllPass) {
  for (const auto& check : kernel_checks::checks) {
    SCOPED_TRACE(std::string(check.name));
    const check::Result result = check.func();
    EXPECT_TRUE(result.ok()) << check::errorName(result.error());
  }
}

}  // namespace
}  // namespace orv
