// Four-lane single-precision normalisation.
#include <cmath>

#include "orv/kernel.hpp"

namespace orv {

F32x4 simdNormalize3(F32x4 v) noexcept {
  const float d = simdDot4(v, v);
  if (d < SQUARED_LENGTH_FLOOR_F32) return f32x4(0.0f, 0.0f, 0.0f, 1.0f);
  const float s = std::sqrt(d);
  return v / F32x4{s, s, s, s};
}

}  // namespace orv
