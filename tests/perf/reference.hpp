// The scalar definitions that the vectorised paths must reproduce to the bit, written out from the
// stated sum orders, and inputs built to catch a reordered sum or a fused multiply-add.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <span>

#include "orv/kernel.hpp"

namespace orv::test {

// Equal to the last bit (+0 is not −0), except that any two NaNs are equal: which NaN an operation
// returns when both operands are NaNs depends on the operand order the compiler picked, and the
// definitions say nothing about it.
inline bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}
inline bool same(const HomVec4& a, const HomVec4& b) {
  return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z) && same(a.w, b.w);
}
inline bool same(const PGL4& a, const PGL4& b) {
  return std::equal(a.data.begin(), a.data.end(), b.data.begin(),
                    [](double p, double q) { return same(p, q); });
}

// Row r = (((0 + m(r,0)·x) + m(r,1)·y) + m(r,2)·z) + m(r,3)·w.
inline HomVec4 refApply(const PGL4& m, const HomVec4& v) {
  const double in[4] = {v.x, v.y, v.z, v.w};
  double out[4];
  for (unsigned r = 0; r < 4; ++r) {
    double sum = 0.0;
    for (unsigned c = 0; c < 4; ++c)
      sum += m.data[c * 4 + r] * in[c];
    out[r] = sum;
  }
  return {out[0], out[1], out[2], out[3]};
}

// Element (r, c) = Σ_k a(r,k)·b(k,c), from 0 in k order.
inline PGL4 refMul(const PGL4& a, const PGL4& b) {
  PGL4 result;
  for (unsigned c = 0; c < 4; ++c) {
    for (unsigned r = 0; r < 4; ++r) {
      double sum = 0.0;
      for (unsigned k = 0; k < 4; ++k)
        sum += a.data[k * 4 + r] * b.data[c * 4 + k];
      result.data[c * 4 + r] = sum;
    }
  }
  return result;
}

// The Newton–Schulz iteration step by step as defined: three products per step, the residual
// through fmax.
inline PGL4 refInverse(const PGL4& self, double delta, std::uint32_t max_iter) {
  const PGL4 I4 = PGL4::identity();
  PGL4 m_reg = self;
  for (unsigned i = 0; i < 4; ++i)
    m_reg.data[i * 5] = m_reg.data[i * 5] + delta;
  const PGL4 mt = m_reg.transpose();
  double norm_sq = 0.0;
  for (unsigned i = 0; i < 16; ++i)
    norm_sq += m_reg.data[i] * m_reg.data[i];
  PGL4 x;
  for (unsigned i = 0; i < 16; ++i)
    x.data[i] = mt.data[i] / norm_sq;
  for (std::uint32_t k = 0; k < max_iter; ++k) {
    const PGL4 mx = refMul(m_reg, x);
    PGL4 two_i_minus_mx;
    for (unsigned i = 0; i < 16; ++i)
      two_i_minus_mx.data[i] = 2.0 * I4.data[i] - mx.data[i];
    x = refMul(x, two_i_minus_mx);
    const PGL4 residual_check = refMul(m_reg, x);
    double residual = 0.0;
    for (unsigned i = 0; i < 16; ++i)
      residual = std::fmax(std::abs(residual_check.data[i] - I4.data[i]), residual);
    if (residual < 1e-12) return x;
  }
  return x;
}

// Values that tell a vector path from its definition: signed zeros, non-finite values, the range
// limits, a product that rounds to 1 (so that fusing it with −1 gives −2⁻⁶⁰ instead of 0) and
// magnitudes whose sum depends on its order.
inline constexpr double kSpecial[] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    1e300,
    -1e-300,
    1.0 + 0x1p-30,
    1.0 - 0x1p-30,
    1e16,
    -1e16,
};

// Seeded values: mostly uniform in [-1, 1), one in `special_one_in` drawn from kSpecial.
class Values {
 public:
  explicit Values(std::uint64_t seed, unsigned special_one_in = 5)
      : gen_(seed), special_one_in_(special_one_in) {}

  double next() {
    if (special_one_in_ != 0 && gen_() % special_one_in_ == 0)
      return kSpecial[gen_() % std::size(kSpecial)];
    return std::uniform_real_distribution<double>(-1.0, 1.0)(gen_);
  }
  HomVec4 point() {
    const double x = next(), y = next(), z = next(), w = next();
    return {x, y, z, w};
  }
  PGL4 matrix() {
    PGL4 m;
    for (double& e : m.data)
      e = next();
    return m;
  }
  std::uint64_t below(std::uint64_t n) { return gen_() % n; }

 private:
  std::mt19937_64 gen_;
  unsigned special_one_in_;
};

// Storage aligned to 64 bytes whose points start `offset_bytes` (a multiple of 8) after that, so
// that tests choose the alignment the vector paths see.
class PointBuffer {
 public:
  PointBuffer(std::size_t n, std::size_t offset_bytes)
      : storage_(new std::byte[n * sizeof(HomVec4) + offset_bytes + 64]), n_(n) {
    auto base = reinterpret_cast<std::uintptr_t>(storage_.get());
    base = (base + 63) / 64 * 64 + offset_bytes;
    points_ = reinterpret_cast<HomVec4*>(base);
    std::uninitialized_value_construct_n(points_, n);
  }
  std::span<HomVec4> span() const { return {points_, n_}; }
  HomVec4* data() const { return points_; }

 private:
  std::unique_ptr<std::byte[]> storage_;
  HomVec4* points_;
  std::size_t n_;
};

}  // namespace orv::test
