// The self-checks of orv_app, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::app_checks {

inline constexpr std::array<check::TestFn, 0> checks{};

}  // namespace orv::app_checks
