// The Fubini–Study distance and the conversion between world lengths and its cosine measure.
#include <cmath>

#include "orv/kernel.hpp"

namespace orv {

double fsDistance(HomVec4 a, HomVec4 b) noexcept {
  const double na = a.norm();
  const double nb = b.norm();
  if (na < NORM_FLOOR || nb < NORM_FLOOR) return 0.0;
  const double ratio = std::abs(HomVec4::dot(a, b)) / (na * nb);
  // Caps rounding excess above 1; a NaN ratio fails the test and becomes 1 as well.
  const double cos_theta = ratio < 1.0 ? ratio : 1.0;
  return std::acos(cos_theta);
}

double wFromDistance(double s_meters, double R_meters) noexcept {
  return std::cos(s_meters / (2.0 * R_meters));
}

double sFromW(double W, double R_meters) noexcept {
  double clamped = W < 1.0 ? W : 1.0;  // a NaN W becomes 1 here
  clamped = clamped > -1.0 ? clamped : -1.0;
  return (2.0 * R_meters) * std::acos(clamped);
}

}  // namespace orv
