// The multiplication floor of a batch of 4×4 products: independent chains of vector multiplies,
// no memory traffic, at the widest vector width the CPU has.
#include <immintrin.h>

#include <cstddef>

#include "bench_util.hpp"

namespace orv::bench {
namespace {

constexpr std::size_t kChains = 12;  // enough independent chains to hide the multiply latency

// Multiplies per vector of each width divide the 16·n multiplies of n points into iterations.
constexpr std::size_t rounds(std::size_t n, std::size_t lanes) {
  return (16 * n + kChains * lanes - 1) / (kChains * lanes);
}

#define ORV_FLOOR_BODY(VEC, SET1, MUL, STORE, LANES)    \
  VEC a[kChains];                                       \
  for (std::size_t j = 0; j < kChains; ++j)             \
    a[j] = SET1(seed[j]);                               \
  const VEC f = SET1(seed[kChains]);                    \
  for (std::size_t i = rounds(n, LANES); i != 0; --i) { \
    a[0] = MUL(a[0], f);                                \
    a[1] = MUL(a[1], f);                                \
    a[2] = MUL(a[2], f);                                \
    a[3] = MUL(a[3], f);                                \
    a[4] = MUL(a[4], f);                                \
    a[5] = MUL(a[5], f);                                \
    a[6] = MUL(a[6], f);                                \
    a[7] = MUL(a[7], f);                                \
    a[8] = MUL(a[8], f);                                \
    a[9] = MUL(a[9], f);                                \
    a[10] = MUL(a[10], f);                              \
    a[11] = MUL(a[11], f);                              \
  }                                                     \
  for (std::size_t j = 0; j < kChains; ++j)             \
    STORE(sink + j * LANES, a[j]);

__attribute__((target("avx512f"))) void floor512(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m512d, _mm512_set1_pd, _mm512_mul_pd, _mm512_storeu_pd, 8)
}

__attribute__((target("avx"))) void floor256(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m256d, _mm256_set1_pd, _mm256_mul_pd, _mm256_storeu_pd, 4)
}

void floor128(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m128d, _mm_set1_pd, _mm_mul_pd, _mm_storeu_pd, 2)
}

#undef ORV_FLOOR_BODY

}  // namespace

void multiplyFloor(std::size_t n, const double* seed, double* sink, unsigned& bits) {
  if (__builtin_cpu_supports("avx512f")) {
    bits = 512;
    floor512(n, seed, sink);
  } else if (__builtin_cpu_supports("avx")) {
    bits = 256;
    floor256(n, seed, sink);
  } else {
    bits = 128;
    floor128(n, seed, sink);
  }
}

}  // namespace orv::bench
