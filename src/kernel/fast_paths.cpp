// Vectorised run-time paths. The matrix loops are written once over a GCC vector type and expanded
// into one function per instruction set (the target attributes below), so the paths share their
// arithmetic to the operation; the distance cosines, which need a vector square root, are written
// with the intrinsics of each set.
#include "fast_paths.hpp"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace orv::detail {
namespace {

using F64x2 = double __attribute__((vector_size(16)));
using F64x4 = double __attribute__((vector_size(32)));

template <class V>
inline constexpr unsigned kLanes = sizeof(V) / sizeof(double);
template <class V>
inline constexpr unsigned kParts = 4 / kLanes<V>;

// A column-major 4×4 matrix as vectors: part[c][p] holds rows p·lanes .. p·lanes + lanes − 1 of
// column c.
template <class V>
struct Columns {
  V part[4][kParts<V>];
};

template <class V>
[[gnu::always_inline]] inline void loadColumns(const double* m, Columns<V>& cols) noexcept {
#pragma GCC unroll 4
  for (std::size_t c = 0; c < 4; ++c) {
#pragma GCC unroll 2
    for (std::size_t p = 0; p < kParts<V>; ++p)
      std::memcpy(&cols.part[c][p], m + 4 * c + kLanes<V> * p, sizeof(V));
  }
}

// Writes v to the 16-byte aligned dst with non-temporal stores, 16 bytes at a time (an SSE2
// instruction, so the same code serves every path).
template <class V>
[[gnu::always_inline]] inline void streamStore(HomVec4* dst, std::size_t part,
                                               const V& v) noexcept {
  if constexpr (kLanes<V> == 2) {
    _mm_stream_pd(part == 0 ? &dst->x : &dst->z, std::bit_cast<__m128d>(v));
  } else {
    _mm_stream_pd(&dst->x, std::bit_cast<__m128d>(__builtin_shufflevector(v, v, 0, 1)));
    _mm_stream_pd(&dst->z, std::bit_cast<__m128d>(__builtin_shufflevector(v, v, 2, 3)));
  }
}

// out = M·(v0, v1, v2, v3) with one lane per row: (((0 + col0·v0) + col1·v1) + col2·v2) + col3·v3.
template <class V, bool kStream = false>
[[gnu::always_inline]] inline void applyPoint(const Columns<V>& m, double v0, double v1, double v2,
                                              double v3, HomVec4* out) noexcept {
#pragma GCC unroll 2
  for (std::size_t p = 0; p < kParts<V>; ++p) {
    V acc = V{} + m.part[0][p] * v0;
    acc = acc + m.part[1][p] * v1;
    acc = acc + m.part[2][p] * v2;
    acc = acc + m.part[3][p] * v3;
    if constexpr (kStream) {
      streamStore(out, p, acc);
    } else {
      std::memcpy(reinterpret_cast<unsigned char*>(out) + sizeof(V) * p, &acc, sizeof(V));
    }
  }
}

// ------------------------------------------------------------------------------------------------
// PGL action batch

// Points go in order and each is read completely before its result is written, so overlapping
// sequences give what the plain loop gives. With kStream, `out` must be 16-byte aligned.
template <class V, bool kStream>
[[gnu::always_inline]] inline void applyOne(const Columns<V>& m, const HomVec4& p,
                                            HomVec4* dst) noexcept {
  applyPoint<V, kStream>(m, p.x, p.y, p.z, p.w, dst);
}

template <class V, bool kStream>
[[gnu::always_inline]] inline void applyRange(const Columns<V>& m, const HomVec4* in, HomVec4* out,
                                              std::size_t n) noexcept {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {  // four independent points per round, fewer loop instructions
    applyOne<V, kStream>(m, in[i], out + i);
    applyOne<V, kStream>(m, in[i + 1], out + i + 1);
    applyOne<V, kStream>(m, in[i + 2], out + i + 2);
    applyOne<V, kStream>(m, in[i + 3], out + i + 3);
  }
  for (; i < n; ++i)
    applyOne<V, kStream>(m, in[i], out + i);
}

template <class V>
[[gnu::always_inline]] inline void applyBatchBody(const PGL4& m, const HomVec4* in, HomVec4* out,
                                                  std::size_t n, bool stream) noexcept {
  Columns<V> cols;
  loadColumns(m.data.data(), cols);
  if (stream && reinterpret_cast<std::uintptr_t>(out) % 16 == 0) {
    applyRange<V, true>(cols, in, out, n);
    _mm_sfence();  // order the streamed stores before whatever the caller does next
  } else {
    applyRange<V, false>(cols, in, out, n);
  }
}

void applyBatchSse2(const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n,
                    bool stream) noexcept {
  applyBatchBody<F64x2>(m, in, out, n, stream);
}

[[gnu::target("avx2")]] void applyBatchAvx2(const PGL4& m, const HomVec4* in, HomVec4* out,
                                            std::size_t n, bool stream) noexcept {
  applyBatchBody<F64x4>(m, in, out, n, stream);
}

[[gnu::target("avx512f,avx512vl")]] void applyBatchAvx512(const PGL4& m, const HomVec4* in,
                                                          HomVec4* out, std::size_t n,
                                                          bool stream) noexcept {
  applyBatchBody<F64x4>(m, in, out, n, stream);
}

// ------------------------------------------------------------------------------------------------
// Fubini–Study distance batch
//
// A block of cosines is computed with vectors, then a scalar loop takes their arc cosines: the
// standard acos has no vector form that rounds as it does. A position whose norm is below
// NORM_FLOOR gets the cosine 1, whose arc cosine is exactly +0 (IEC 60559, as fsDistance's own
// capped ratios rely on): the arc cosine loop then has no branch of its own, and the branch
// predictor keeps its history for acos.

constexpr std::size_t kCosineBlock = 256;

// fsDistance's cosine for one position, its reference norm `nb` computed once by the caller.
inline double cosineOf(const HomVec4& a, const HomVec4& b, double nb) noexcept {
  const double na = a.norm();
  if (na < NORM_FLOOR) return 1.0;
  const double ratio = std::abs(HomVec4::dot(a, b)) / (na * nb);
  return ratio < 1.0 ? ratio : 1.0;
}

void cosinesSse2(const HomVec4* pos, const HomVec4& b, double nb, double* cos,
                 std::size_t n) noexcept {
  const __m128d bx = _mm_set1_pd(b.x), by = _mm_set1_pd(b.y), bz = _mm_set1_pd(b.z),
                bw = _mm_set1_pd(b.w), vnb = _mm_set1_pd(nb);
  const __m128d tiny = _mm_set1_pd(NORM_FLOOR), one = _mm_set1_pd(1.0), sign = _mm_set1_pd(-0.0);
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128d xy0 = _mm_loadu_pd(&pos[i].x), zw0 = _mm_loadu_pd(&pos[i].z);
    const __m128d xy1 = _mm_loadu_pd(&pos[i + 1].x), zw1 = _mm_loadu_pd(&pos[i + 1].z);
    const __m128d x = _mm_unpacklo_pd(xy0, xy1), y = _mm_unpackhi_pd(xy0, xy1);
    const __m128d z = _mm_unpacklo_pd(zw0, zw1), w = _mm_unpackhi_pd(zw0, zw1);
    const __m128d aa =
        _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z)),
                   _mm_mul_pd(w, w));
    const __m128d na = _mm_sqrt_pd(aa);
    const __m128d d =
        _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(x, bx), _mm_mul_pd(y, by)), _mm_mul_pd(z, bz)),
                   _mm_mul_pd(w, bw));
    const __m128d ratio = _mm_div_pd(_mm_andnot_pd(sign, d), _mm_mul_pd(na, vnb));
    const __m128d capped = _mm_min_pd(ratio, one);  // ratio < 1 ? ratio : 1, so NaN gives 1
    const __m128d short_norm = _mm_cmplt_pd(na, tiny);
    _mm_storeu_pd(cos + i,
                  _mm_or_pd(_mm_and_pd(short_norm, one), _mm_andnot_pd(short_norm, capped)));
  }
  for (; i < n; ++i)
    cos[i] = cosineOf(pos[i], b, nb);
}

[[gnu::target("avx2")]] void cosinesAvx2(const HomVec4* pos, const HomVec4& b, double nb,
                                         double* cos, std::size_t n) noexcept {
  const __m256d bx = _mm256_set1_pd(b.x), by = _mm256_set1_pd(b.y), bz = _mm256_set1_pd(b.z),
                bw = _mm256_set1_pd(b.w), vnb = _mm256_set1_pd(nb);
  const __m256d tiny = _mm256_set1_pd(NORM_FLOOR), one = _mm256_set1_pd(1.0),
                sign = _mm256_set1_pd(-0.0);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d p0 = _mm256_loadu_pd(&pos[i].x), p1 = _mm256_loadu_pd(&pos[i + 1].x);
    const __m256d p2 = _mm256_loadu_pd(&pos[i + 2].x), p3 = _mm256_loadu_pd(&pos[i + 3].x);
    const __m256d t0 = _mm256_unpacklo_pd(p0, p1);  // x0 x1 z0 z1
    const __m256d t1 = _mm256_unpackhi_pd(p0, p1);  // y0 y1 w0 w1
    const __m256d t2 = _mm256_unpacklo_pd(p2, p3);  // x2 x3 z2 z3
    const __m256d t3 = _mm256_unpackhi_pd(p2, p3);  // y2 y3 w2 w3
    const __m256d x = _mm256_permute2f128_pd(t0, t2, 0x20);
    const __m256d y = _mm256_permute2f128_pd(t1, t3, 0x20);
    const __m256d z = _mm256_permute2f128_pd(t0, t2, 0x31);
    const __m256d w = _mm256_permute2f128_pd(t1, t3, 0x31);
    const __m256d aa = _mm256_add_pd(
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)),
        _mm256_mul_pd(w, w));
    const __m256d na = _mm256_sqrt_pd(aa);
    const __m256d d =
        _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, bx), _mm256_mul_pd(y, by)),
                                    _mm256_mul_pd(z, bz)),
                      _mm256_mul_pd(w, bw));
    const __m256d ratio = _mm256_div_pd(_mm256_andnot_pd(sign, d), _mm256_mul_pd(na, vnb));
    const __m256d capped = _mm256_min_pd(ratio, one);
    const __m256d short_norm = _mm256_cmp_pd(na, tiny, _CMP_LT_OQ);
    _mm256_storeu_pd(cos + i, _mm256_blendv_pd(capped, one, short_norm));
  }
  for (; i < n; ++i)
    cos[i] = cosineOf(pos[i], b, nb);
}

// ------------------------------------------------------------------------------------------------
// Newton–Schulz inverse

// The Newton–Schulz loop keeps its matrices as rows: element (r, c) of a·b is then the lane c
// of Σ_k a(r,k)·(row k of b), and the scalars a(r,k) come either from the constant m_reg or from
// the previous iterate, which are both known before the step's products start. Each lane still
// sums its element from 0 in k order.
template <class V>
using Rows = Columns<V>;  // part[r][p]: columns p·lanes .. p·lanes + lanes − 1 of row r

// out = a·b for the row-major scalars a (a[4r + k] = a(r,k)) and the rows of b. out must not be b.
template <class V>
[[gnu::always_inline]] inline void productRows(const double* a, const Rows<V>& b,
                                               Rows<V>& out) noexcept {
#pragma GCC unroll 4
  for (std::size_t r = 0; r < 4; ++r) {
    const double a0 = a[4 * r], a1 = a[4 * r + 1], a2 = a[4 * r + 2], a3 = a[4 * r + 3];
#pragma GCC unroll 2
    for (std::size_t p = 0; p < kParts<V>; ++p) {
      V acc = V{} + a0 * b.part[0][p];
      acc = acc + a1 * b.part[1][p];
      acc = acc + a2 * b.part[2][p];
      acc = acc + a3 * b.part[3][p];
      out.part[r][p] = acc;
    }
  }
}

template <class V>
[[gnu::always_inline]] inline void storeRows(const Rows<V>& rows, double* m) noexcept {
#pragma GCC unroll 4
  for (std::size_t r = 0; r < 4; ++r) {
#pragma GCC unroll 2
    for (std::size_t p = 0; p < kParts<V>; ++p)
      std::memcpy(m + 4 * r + kLanes<V> * p, &rows.part[r][p], sizeof(V));
  }
}

template <class V>
[[gnu::always_inline]] inline PGL4 inverseBody(const PGL4& self, double delta,
                                               std::uint32_t max_iter) noexcept {
  PGL4 m_reg = self;
  for (unsigned i = 0; i < 4; ++i)
    m_reg.set(i, i, m_reg.get(i, i) + delta);
  const PGL4 mt = m_reg.transpose();
  double norm_sq = 0.0;
  for (unsigned i = 0; i < 16; ++i)
    norm_sq += m_reg.data[i] * m_reg.data[i];
  // X0 = m_regᵀ/‖m_reg‖F² puts every singular value of m_reg·X0 in (0, 1], where the iteration
  // X ← X·(2I − m_reg·X) converges. Row-major scalars: mt's column-major storage is m_reg row by
  // row, and row r of X0 = mt/norm_sq is column r of m_reg divided element by element.
  const double* m_rm = mt.data.data();
  Rows<V> x, i4, two_i;
  loadColumns(m_reg.data.data(), x);
  loadColumns(PGL4::identity().data.data(), i4);  // symmetric: its columns are its rows
#pragma GCC unroll 4
  for (unsigned r = 0; r < 4; ++r) {
#pragma GCC unroll 2
    for (unsigned p = 0; p < kParts<V>; ++p) {
      x.part[r][p] = x.part[r][p] / norm_sq;
      two_i.part[r][p] = 2.0 * i4.part[r][p];
    }
  }
  double x_rm[16];

  // m_reg·x of one step's residual test is the m_reg·x that the next step starts from (same
  // operands, same operations), so each step costs two products where the definition writes three.
  Rows<V> mx;
  if (max_iter > 0) productRows(m_rm, x, mx);
  for (std::uint32_t k = 0; k < max_iter; ++k) {
    Rows<V> two_i_minus_mx;
#pragma GCC unroll 4
    for (unsigned r = 0; r < 4; ++r) {
#pragma GCC unroll 2
      for (unsigned p = 0; p < kParts<V>; ++p)
        two_i_minus_mx.part[r][p] = two_i.part[r][p] - mx.part[r][p];
    }
    storeRows(x, x_rm);
    productRows(x_rm, two_i_minus_mx, x);  // x·(2I − m_reg·x), the old x on the left
    productRows(m_rm, x, mx);              // residual_check
    // residual < INVERSE_RESIDUAL, the residual being the largest |residual_check − I| element with
    // NaN elements passed over (fmax), holds exactly when no element has |d| ≥ INVERSE_RESIDUAL: a
    // NaN fails both comparisons.
    using Mask = decltype(V{} < V{});
    Mask large{};
#pragma GCC unroll 4
    for (unsigned r = 0; r < 4; ++r) {
#pragma GCC unroll 2
      for (unsigned p = 0; p < kParts<V>; ++p) {
        const V d = mx.part[r][p] - i4.part[r][p];
        large = large | (d >= INVERSE_RESIDUAL) | (d <= -INVERSE_RESIDUAL);
      }
    }
    bool any_large = false;
#pragma GCC unroll 4
    for (unsigned l = 0; l < kLanes<V>; ++l)
      any_large = any_large || large[l] != 0;
    if (!any_large) break;
  }
  storeRows(x, x_rm);
  PGL4 result;
  for (unsigned r = 0; r < 4; ++r) {
    for (unsigned c = 0; c < 4; ++c)
      result.set(r, c, x_rm[4 * r + c]);
  }
  return result;
}

PGL4 inverseSse2(const PGL4& m, double delta, std::uint32_t max_iter) noexcept {
  return inverseBody<F64x2>(m, delta, max_iter);
}

[[gnu::target("avx2")]] PGL4 inverseAvx2(const PGL4& m, double delta,
                                         std::uint32_t max_iter) noexcept {
  return inverseBody<F64x4>(m, delta, max_iter);
}

[[gnu::target("avx512f,avx512vl")]] PGL4 inverseAvx512(const PGL4& m, double delta,
                                                       std::uint32_t max_iter) noexcept {
  return inverseBody<F64x4>(m, delta, max_iter);
}

bool overlaps(const void* a, std::size_t a_bytes, const void* b, std::size_t b_bytes) noexcept {
  const auto pa = reinterpret_cast<std::uintptr_t>(a);
  const auto pb = reinterpret_cast<std::uintptr_t>(b);
  return pa < pb + b_bytes && pb < pa + a_bytes;
}

}  // namespace

bool isaSupported(Isa isa) noexcept {
  __builtin_cpu_init();
  switch (isa) {
    case Isa::sse2:
      return true;
    case Isa::avx2:
      return static_cast<bool>(__builtin_cpu_supports("avx2"));
    case Isa::avx512:
      return static_cast<bool>(__builtin_cpu_supports("avx512f")) &&
             static_cast<bool>(__builtin_cpu_supports("avx512vl"));
  }
  return false;
}

Isa bestIsa() noexcept {
  if (isaSupported(Isa::avx512)) return Isa::avx512;
  if (isaSupported(Isa::avx2)) return Isa::avx2;
  return Isa::sse2;
}

const char* isaName(Isa isa) noexcept {
  switch (isa) {
    case Isa::sse2:
      return "SSE2";
    case Isa::avx2:
      return "AVX2";
    case Isa::avx512:
      return "AVX-512VL";
  }
  return "?";
}

void applyBatch(Isa isa, const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n,
                bool stream) noexcept {
  switch (isa) {
    case Isa::sse2:
      return applyBatchSse2(m, in, out, n, stream);
    case Isa::avx2:
      return applyBatchAvx2(m, in, out, n, stream);
    case Isa::avx512:
      return applyBatchAvx512(m, in, out, n, stream);
  }
}

void applyBatch(const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) noexcept {
  // In place, a streamed store would evict the line the next point is read from.
  const std::size_t bytes = n * sizeof(HomVec4);
  const bool stream = bytes >= kStreamBytes && !overlaps(in, bytes, out, bytes);
  applyBatch(bestIsa(), m, in, out, n, stream);
}

void fsDistanceBatch(Isa isa, const HomVec4* positions, HomVec4 reference, double* out,
                     std::size_t n) noexcept {
  const double nb = reference.norm();
  if (nb < NORM_FLOOR) {
    std::fill_n(out, n, 0.0);
    return;
  }
  double cos[kCosineBlock];
  for (std::size_t i = 0; i < n; i += kCosineBlock) {
    const std::size_t count = std::min(kCosineBlock, n - i);
    if (isa == Isa::sse2) {
      cosinesSse2(positions + i, reference, nb, cos, count);
    } else {
      cosinesAvx2(positions + i, reference, nb, cos, count);
    }
    // The arc cosines take long enough for the hardware to stop fetching ahead: meanwhile, ask
    // for the positions two blocks on (the last one past the end; no branch either).
    const std::size_t ahead = i + 2 * kCosineBlock;
    for (std::size_t j = 0; j < count; ++j) {
      __builtin_prefetch(positions + std::min(ahead + j, n - 1));
      out[i + j] = std::acos(cos[j]);
    }
  }
}

void fsDistanceBatch(const HomVec4* positions, HomVec4 reference, double* out,
                     std::size_t n) noexcept {
  if (overlaps(positions, n * sizeof(HomVec4), out, n * sizeof(double))) {
    for (std::size_t i = 0; i < n; ++i)
      out[i] = fsDistance(positions[i], reference);
    return;
  }
  fsDistanceBatch(bestIsa(), positions, reference, out, n);
}

PGL4 inverse(Isa isa, const PGL4& m, double delta, std::uint32_t max_iter) noexcept {
  switch (isa) {
    case Isa::sse2:
      return inverseSse2(m, delta, max_iter);
    case Isa::avx2:
      return inverseAvx2(m, delta, max_iter);
    case Isa::avx512:
      return inverseAvx512(m, delta, max_iter);
  }
  return inverseSse2(m, delta, max_iter);
}

}  // namespace orv::detail
