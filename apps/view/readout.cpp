#include "view/readout.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orv::view {

void formatReadout(std::span<char> out, std::string_view base, double fps,
                   const OrvCamera& camera) noexcept {
  if (out.empty()) return;
  const double from_start = std::acos(std::min(std::fabs(camera.pos[3]), 1.0));
  std::snprintf(out.data(), out.size(),
                "%.*s%s%.0f fps - speed %.2f rad/s - at (%+.3f, %+.3f, %+.3f, %+.3f), %.3f rad "
                "from the start",
                static_cast<int>(base.size()), base.data(), base.empty() ? "" : " - ", fps,
                camera.speed, camera.pos[0], camera.pos[1], camera.pos[2], camera.pos[3],
                from_start);
}

}  // namespace orv::view
