#include "kernel/kernel_checks.hpp"

#include "orv/kernel.hpp"

namespace orv::kernel_checks {

using check::expect;
using check::expectApproxEqAbs;
using check::Result;
using check::success;

Result homVec4Constructors() {
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

Result homVec4Normalization() {
  const HomVec4 n = HomVec4::init(3.0, 0.0, 0.0, 4.0).normalize();
  ORV_TRY(expectApproxEqAbs(n.norm(), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(n.x, 0.6, 1e-10));
  ORV_TRY(expectApproxEqAbs(n.w, 0.8, 1e-10));
  return success;
}

Result homVec4DotAndSamePoint() {
  const HomVec4 a = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  const HomVec4 b = HomVec4::init(1.0, 0.0, 0.0, 0.0);
  const HomVec4 c = HomVec4::init(0.0, 1.0, 0.0, 0.0);
  const HomVec4 neg_a = HomVec4::init(-1.0, 0.0, 0.0, 0.0);
  ORV_TRY(expectApproxEqAbs(HomVec4::dot(a, b), 1.0, 1e-10));
  ORV_TRY(expectApproxEqAbs(HomVec4::dot(a, c), 0.0, 1e-10));
  ORV_TRY(expect(HomVec4::isSamePoint(a, neg_a, 1e-8)));
  return success;
}

Result homVec4Antipodal() {
  const HomVec4 p = HomVec4::init(1.0, 2.0, 3.0, 4.0);
  const HomVec4 neg_p = HomVec4::init(-1.0, -2.0, -3.0, -4.0);
  const HomVec4 other = HomVec4::init(1.0, 2.0, 3.0, 5.0);
  ORV_TRY(expect(HomVec4::isAntipodalTo(p, neg_p, 1e-8)));
  ORV_TRY(expect(!HomVec4::isAntipodalTo(p, other, 1e-8)));
  return success;
}

Result homVec4AffineCard() {
  ORV_TRY(expect(HomVec4::init(1.0, 2.0, 3.0, 4.0).pickBestCard() == AffineCard::UW));
  ORV_TRY(expect(HomVec4::init(5.0, 1.0, 1.0, 1.0).pickBestCard() == AffineCard::UX));
  ORV_TRY(expect(HomVec4::init(1.0, 6.0, 1.0, 1.0).pickBestCard() == AffineCard::UY));
  ORV_TRY(expect(HomVec4::init(1.0, 1.0, 7.0, 1.0).pickBestCard() == AffineCard::UZ));
  return success;
}

}  // namespace orv::kernel_checks
