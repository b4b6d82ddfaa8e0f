// The self-checks of orv_gpu, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::gpu_checks {

inline constexpr std::array<check::TestFn, 0> checks{};

}  // namespace orv::gpu_checks
