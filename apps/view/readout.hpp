// The line that tells a user flying through S³ where they are: the window's title, the page's
// readout.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "orv/app.hpp"

namespace orv::view {

inline constexpr std::size_t readout_capacity = 256;

// "BASE - N fps - speed S rad/s - at (x, y, z, w), A rad from the start" (without "BASE - " for an
// empty base), cut to fit `out` with its terminating NUL. A is the arc from the start (0, 0, 0, 1)
// in elliptic space, where q and −q are one point.
void formatReadout(std::span<char> out, std::string_view base, double fps,
                   const OrvCamera& camera) noexcept;

}  // namespace orv::view
