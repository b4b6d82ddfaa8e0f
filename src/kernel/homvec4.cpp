// Homogeneous points: norm, normalisation, dehomogenisation, projective equality, best chart.
#include <cmath>

#include "orv/kernel.hpp"

namespace orv {

double HomVec4::norm() const noexcept { return std::sqrt(dot(*this, *this)); }

HomVec4 HomVec4::normalize() const noexcept {
  const double n = norm();
  if (n < NORM_FLOOR) return {0.0, 0.0, 0.0, 1.0};
  return {x / n, y / n, z / n, w / n};
}

std::array<double, 3> HomVec4::cartesian3() const noexcept {
  if (!(std::abs(w) < W_EPS)) return {x / w, y / w, z / w};
  const double n = norm();
  if (n < NORM_FLOOR) return {0.0, 0.0, 0.0};
  return {x / n, y / n, z / n};
}

AffineCard HomVec4::pickBestCard() const noexcept {
  const double aw = std::abs(w);
  const double ax = std::abs(x);
  const double ay = std::abs(y);
  const double az = std::abs(z);
  if (aw >= ax && aw >= ay && aw >= az) return AffineCard::UW;
  if (ax >= ay && ax >= az) return AffineCard::UX;
  if (ay >= az) return AffineCard::UY;
  return AffineCard::UZ;
}

bool HomVec4::isSamePoint(HomVec4 a, HomVec4 b, double tol) noexcept {
  const double na = a.norm();
  const double nb = b.norm();
  if (na < tol || nb < tol) return false;
  return std::abs(dot(a, b)) / (na * nb) > 1.0 - tol;
}

bool HomVec4::isAntipodalTo(HomVec4 a, HomVec4 b, double tol) noexcept {
  return isSamePoint(a, {-b.x, -b.y, -b.z, -b.w}, tol);
}

}  // namespace orv
