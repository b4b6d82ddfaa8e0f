// The lane types of ORV's vector code and the lane-wise operations that the GNU vector extension
// leaves out, for the vector paths and the kernel's scalar definitions alike (`double` is the
// one-lane case). Vector operands go by reference: a function that took or returned a 32-byte
// vector by value would have a calling convention that depends on the instruction set.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cmath>
#include <type_traits>

#include "orv/kernel.hpp"
#include "orv/numeric.hpp"

namespace orv::detail {

// F64x2 (two f64 lanes, one SSE2 register) and F64x4 (four, one AVX register) are declared with
// PGL4::apply in orv/kernel.hpp.
// Their bits, for the sign.
using I64x2 = long long __attribute__((vector_size(16)));
using I64x4 = long long __attribute__((vector_size(32)));

template <class V>
inline constexpr unsigned lane_count = sizeof(V) / sizeof(double);

// out = √v in every lane (correctly rounded, as std::sqrt).
inline void sqrtLanes(const double& v, double& out) noexcept { out = std::sqrt(v); }

#if defined(__x86_64__)
[[gnu::always_inline]] inline void sqrtLanes(const F64x2& v, F64x2& out) noexcept {
  out = __builtin_bit_cast(F64x2, _mm_sqrt_pd(__builtin_bit_cast(__m128d, v)));
}

[[gnu::target("avx")]] inline void sqrtLanes(const F64x4& v, F64x4& out) noexcept {
  out = __builtin_bit_cast(F64x4, _mm256_sqrt_pd(__builtin_bit_cast(__m256d, v)));
}
#else
// Other targets (WebAssembly): lane by lane, each as std::sqrt.
template <class V>
[[gnu::always_inline]] inline void sqrtLanes(const V& v, V& out) noexcept {
  for (unsigned i = 0; i < sizeof(V) / sizeof(double); ++i)
    out[i] = std::sqrt(v[i]);
}
#endif

// out = a < b ? a : b in every lane, so b where either is NaN (the rule of x86's min instructions).
inline void minLanes(const double& a, const double& b, double& out) noexcept {
  out = a < b ? a : b;
}

#if defined(__x86_64__)
[[gnu::always_inline]] inline void minLanes(const F64x2& a, const F64x2& b, F64x2& out) noexcept {
  out = __builtin_bit_cast(
      F64x2, _mm_min_pd(__builtin_bit_cast(__m128d, a), __builtin_bit_cast(__m128d, b)));
}

[[gnu::target("avx")]] inline void minLanes(const F64x4& a, const F64x4& b, F64x4& out) noexcept {
  out = __builtin_bit_cast(
      F64x4, _mm256_min_pd(__builtin_bit_cast(__m256d, a), __builtin_bit_cast(__m256d, b)));
}
#else
template <class V>
[[gnu::always_inline]] inline void minLanes(const V& a, const V& b, V& out) noexcept {
  for (unsigned i = 0; i < sizeof(V) / sizeof(double); ++i)
    out[i] = a[i] < b[i] ? a[i] : b[i];
}
#endif

// out = |v| in every lane: the sign bit cleared, as std::abs does (−0 becomes +0).
inline void absLanes(const double& v, double& out) noexcept { out = std::abs(v); }

template <class V>
[[gnu::always_inline]] inline void absLanes(const V& v, V& out) noexcept {
  using Bits = std::conditional_t<lane_count<V> == 2, I64x2, I64x4>;
  const Bits sign = __builtin_bit_cast(Bits, -V{});  // −0 in every lane: the sign bits alone
  const Bits magnitude = __builtin_bit_cast(Bits, v) & ~sign;
  out = __builtin_bit_cast(V, magnitude);
}

// The coordinates of one point per lane.
template <class V>
struct PointLanes {
  V x, y, z, w;
};

// The cosine whose arc cosine fsDistance returns, for the points `a` and the reference `b` of
// norm `nb` ≥ NORM_FLOOR: |a·b|/(|a|·nb) with the documented sums, capped at 1 (a NaN ratio
// included), and 1 where |a| < NORM_FLOOR, since the distance is then 0 = acos(1). The scalar
// definition and every vector path compute it here.
template <class V>
[[gnu::always_inline]] inline void fsCosine(const PointLanes<V>& a, const HomVec4& b, double nb,
                                            V& cos) noexcept {
  V na;
  sqrtLanes(((a.x * a.x + a.y * a.y) + a.z * a.z) + a.w * a.w, na);
  V abs_dot;
  absLanes(((a.x * b.x + a.y * b.y) + a.z * b.z) + a.w * b.w, abs_dot);
  const V one = V{} + 1.0;
  V capped;
  minLanes(abs_dot / (na * nb), one, capped);
  cos = na < NORM_FLOOR ? one : capped;
}

}  // namespace orv::detail
