// Operators built from matrices: resonance, regularised null-space projector, deformed product.
#include "orv/kernel.hpp"

namespace orv {

PGL4 computeResonance(const PGL4& a) noexcept {
  const PGL4 at = a.transpose();
  PGL4 result;
  for (unsigned i = 0; i < 16; ++i)
    result.data[i] = a.data[i] - at.data[i];
  return result;
}

PGL4 computeProjector(const PGL4& jc, double delta) noexcept {
  const PGL4 I4 = PGL4::identity();
  const PGL4 jct = jc.transpose();
  PGL4 jjt = PGL4::mul(jc, jct);
  for (unsigned i = 0; i < 4; ++i)
    jjt.set(i, i, jjt.get(i, i) + delta);
  // The inverse shifts the diagonal by delta once more: it inverts jc·jcᵀ + 2δI.
  const PGL4 jjt_inv = jjt.inverse(delta, 8);
  const PGL4 middle = PGL4::mul(jct, jjt_inv);
  const PGL4 projector_part = PGL4::mul(middle, jc);
  PGL4 pi_lambda;
  for (unsigned i = 0; i < 16; ++i)
    pi_lambda.data[i] = I4.data[i] - projector_part.data[i];
  return pi_lambda;
}

PGL4 deformedTensorProduct(const PGL4& x, const PGL4& y, double epsilon) noexcept {
  const PGL4 linear = PGL4::mul(x, y);
  PGL4 result = linear;
  for (unsigned i = 0; i < 16; ++i)
    result.data[i] = linear.data[i] + (epsilon * x.data[i]) * y.data[i];
  return result;
}

}  // namespace orv
