// Projective transformations: determinant normalisation, rotation and the Newton–Schulz inverse.
#include <cmath>

#include "orv/kernel.hpp"
#include "fast_paths.hpp"

namespace orv {

PGL4 PGL4::normalizeDet() const noexcept {
  const double d = det();
  if (std::abs(d) < DET_FLOOR) return *this;
  // det(s·M) = s⁴·det(M), so this scale leaves det = ±1 with the sign of d.
  const double det_scale = std::pow(std::abs(d), -0.25);
  PGL4 result;
  for (unsigned i = 0; i < 16; ++i)
    result.data[i] = data[i] * det_scale;
  return result;
}

// The iteration itself lives with the other vectorised paths; see inverseBody there.
PGL4 PGL4::inverse(double delta, std::uint32_t max_iter) const noexcept {
  return detail::inverse(*this, delta, max_iter);
}

PGL4 pglRotateZ(double angle) noexcept {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return PGL4::init({c, s, 0.0, 0.0, -s, c, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0});
}

}  // namespace orv
