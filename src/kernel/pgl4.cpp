// Projective transformations: determinant normalisation, rotation and the Newton–Schulz inverse.
#include <cmath>

#include "orv/kernel.hpp"

namespace orv {

PGL4 PGL4::normalizeDet() const noexcept {
  const double d = det();
  if (std::abs(d) < 1e-15) return *this;
  // det(s·M) = s⁴·det(M), so this scale leaves det = ±1 with the sign of d.
  const double det_scale = std::pow(std::abs(d), -0.25);
  PGL4 result;
  for (unsigned i = 0; i < 16; ++i)
    result.data[i] = data[i] * det_scale;
  return result;
}

PGL4 PGL4::inverse(double delta, std::uint32_t max_iter) const noexcept {
  const PGL4 I4 = identity();
  PGL4 m_reg = *this;
  for (unsigned i = 0; i < 4; ++i)
    m_reg.set(i, i, m_reg.get(i, i) + delta);
  const PGL4 mt = m_reg.transpose();

  double norm_sq = 0.0;
  for (unsigned i = 0; i < 16; ++i)
    norm_sq += m_reg.data[i] * m_reg.data[i];

  // X0 = m_regᵀ/‖m_reg‖F² puts every singular value of m_reg·X0 in (0, 1], where the iteration
  // X ← X·(2I − m_reg·X) converges.
  PGL4 x;
  for (unsigned i = 0; i < 16; ++i)
    x.data[i] = mt.data[i] / norm_sq;

  for (std::uint32_t k = 0; k < max_iter; ++k) {
    const PGL4 mx = mul(m_reg, x);
    PGL4 two_i_minus_mx;
    for (unsigned i = 0; i < 16; ++i)
      two_i_minus_mx.data[i] = 2.0 * I4.data[i] - mx.data[i];
    x = mul(x, two_i_minus_mx);

    const PGL4 residual_check = mul(m_reg, x);
    double residual = 0.0;
    for (unsigned i = 0; i < 16; ++i) {
      // fmax passes over a NaN operand, so NaN elements do not raise the residual.
      residual = std::fmax(std::abs(residual_check.data[i] - I4.data[i]), residual);
    }
    if (residual < 1e-12) return x;
  }
  return x;
}

PGL4 pglRotateZ(double angle) noexcept {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return PGL4::init({c, s, 0.0, 0.0, -s, c, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0});
}

}  // namespace orv
