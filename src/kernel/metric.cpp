// The Fubini–Study distance and the conversion between world lengths and its cosine measure.
#include <cmath>

#include "orv/kernel.hpp"
#include "lanes.hpp"

namespace orv {

// The cosine is the one-lane case of the batches' vector definition; for a too-short `a` it is 1,
// whose arc cosine is exactly +0.
double fsDistance(HomVec4 a, HomVec4 b) noexcept {
  const double nb = b.norm();
  if (nb < NORM_FLOOR) return 0.0;
  double cos_theta;
  detail::fsCosine(detail::PointLanes<double>{a.x, a.y, a.z, a.w}, b, nb, cos_theta);
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
