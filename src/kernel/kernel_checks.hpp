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

inline constexpr std::array checks{
    check::TestFn{"orv_kernel.test.HomVec4: constructors and cartesian dehomogenization",
                  &homVec4Constructors},
    check::TestFn{"orv_kernel.test.HomVec4: normalization on S³", &homVec4Normalization},
    check::TestFn{"orv_kernel.test.HomVec4: dot product and isSamePoint", &homVec4DotAndSamePoint},
    check::TestFn{"orv_kernel.test.HomVec4: antipodal check Z/2Z", &homVec4Antipodal},
    check::TestFn{"orv_kernel.test.HomVec4: affine card selection", &homVec4AffineCard},
};

}  // namespace orv::kernel_checks
