// The self-checks of orv_input, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::input_checks {

inline constexpr std::array<check::TestFn, 0> checks{};

}  // namespace orv::input_checks
