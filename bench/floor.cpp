// The arithmetic floor of a batch of 4×4 actions.
//
// A point costs 16 multiplications and 16 additions (the 0 + that starts each row's sum included),
// in whatever order the rows are summed. The floor issues exactly that many operations per point
// and nothing else: no loads, no stores, no shuffles or broadcasts, and chains that do not depend
// on each other, 7 of multiplications and 7 of additions, interleaved (enough for two pipes of each
// kind at a latency of 3 cycles, as on AMD Zen, and for two shared pipes at a latency of 4, as on
// Intel cores). It therefore runs at the machine's peak for that mix at a given width: where
// additions and multiplications share their pipes (most Intel cores) it takes twice as long as the
// multiplications alone, where each kind has pipes of its own (AMD Zen) as long. One benchmark per
// vector width the CPU has; the fastest of them is the floor.
#include <immintrin.h>

#include <cstddef>

#include "bench_util.hpp"

namespace orv::bench {
namespace {

constexpr std::size_t kChains = 7;  // of each kind

// Rounds of kChains multiplies and kChains additions of `lanes` lanes for the 16·n of each kind.
constexpr std::size_t rounds(std::size_t n, std::size_t lanes) {
  return (16 * n + kChains * lanes - 1) / (kChains * lanes);
}

// f = seed[2·kChains], read at run time so that nothing folds: 1.0 keeps the products constant,
// and the sums grow by 1 a round, exactly, for any batch the benchmarks run.
#define ORV_FLOOR_BODY(VEC, SET1, MUL, ADD, STORE, LANES) \
  VEC p[kChains], s[kChains];                             \
  for (std::size_t j = 0; j < kChains; ++j) {             \
    p[j] = SET1(seed[j]);                                 \
    s[j] = SET1(seed[kChains + j]);                       \
  }                                                       \
  const VEC f = SET1(seed[2 * kChains]);                  \
  for (std::size_t i = rounds(n, LANES); i != 0; --i) {   \
    p[0] = MUL(p[0], f);                                  \
    s[0] = ADD(s[0], f);                                  \
    p[1] = MUL(p[1], f);                                  \
    s[1] = ADD(s[1], f);                                  \
    p[2] = MUL(p[2], f);                                  \
    s[2] = ADD(s[2], f);                                  \
    p[3] = MUL(p[3], f);                                  \
    s[3] = ADD(s[3], f);                                  \
    p[4] = MUL(p[4], f);                                  \
    s[4] = ADD(s[4], f);                                  \
    p[5] = MUL(p[5], f);                                  \
    s[5] = ADD(s[5], f);                                  \
    p[6] = MUL(p[6], f);                                  \
    s[6] = ADD(s[6], f);                                  \
  }                                                       \
  for (std::size_t j = 0; j < kChains; ++j) {             \
    STORE(sink + j * LANES, p[j]);                        \
    STORE(sink + (kChains + j) * LANES, s[j]);            \
  }

__attribute__((target("avx512f"))) void floor512(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m512d, _mm512_set1_pd, _mm512_mul_pd, _mm512_add_pd, _mm512_storeu_pd, 8)
}

__attribute__((target("avx"))) void floor256(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m256d, _mm256_set1_pd, _mm256_mul_pd, _mm256_add_pd, _mm256_storeu_pd, 4)
}

void floor128(std::size_t n, const double* seed, double* sink) {
  ORV_FLOOR_BODY(__m128d, _mm_set1_pd, _mm_mul_pd, _mm_add_pd, _mm_storeu_pd, 2)
}

#undef ORV_FLOOR_BODY

}  // namespace

bool arithmeticFloorRuns(unsigned bits) {
  switch (bits) {
    case 128:
      return true;
    case 256:
      return __builtin_cpu_supports("avx") != 0;
    case 512:
      return __builtin_cpu_supports("avx512f") != 0;
    default:
      return false;
  }
}

void arithmeticFloor(unsigned bits, std::size_t n, const double* seed, double* sink) {
  if (bits == 512) {
    floor512(n, seed, sink);
  } else if (bits == 256) {
    floor256(n, seed, sink);
  } else {
    floor128(n, seed, sink);
  }
}

}  // namespace orv::bench
