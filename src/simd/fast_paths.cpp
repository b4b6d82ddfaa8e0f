// Vectorised run-time paths. Each operation is written once over a lane type (simd/lanes.hpp) and
// expanded into one function per instruction set by the target attributes below, so that the
// paths share their arithmetic to the operation; a table holds each set's functions, and every
// dispatcher picks its entry from it the same way.
#include "fast_paths.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lanes.hpp"

namespace orv::detail {
namespace {

template <class V>
inline constexpr unsigned part_count = 4 / lane_count<V>;

// A column-major 4×4 matrix as vectors: part[c][p] holds rows p·lanes .. p·lanes + lanes − 1 of
// column c.
template <class V>
struct Columns {
  V part[4][part_count<V>];
};

template <class V>
[[gnu::always_inline]] inline void loadColumns(const double* m, Columns<V>& cols) noexcept {
#pragma GCC unroll 4
  for (std::size_t c = 0; c < 4; ++c) {
#pragma GCC unroll 2
    for (std::size_t p = 0; p < part_count<V>; ++p)
      std::memcpy(&cols.part[c][p], m + 4 * c + lane_count<V> * p, sizeof(V));
  }
}

// The half h of a point: (x, y) for 0, (z, w) for 1.
inline double* half(HomVec4* point, std::size_t h) noexcept {
  return h == 0 ? &point->x : &point->z;
}
inline const double* half(const HomVec4* point, std::size_t h) noexcept {
  return h == 0 ? &point->x : &point->z;
}

// ------------------------------------------------------------------------------------------------
// PGL action batch

bool overlaps(const void* a, std::size_t a_bytes, const void* b, std::size_t b_bytes) noexcept {
  const auto pa = reinterpret_cast<std::uintptr_t>(a);
  const auto pb = reinterpret_cast<std::uintptr_t>(b);
  return pa < pb + b_bytes && pb < pa + a_bytes;
}

// How a batch writes a point's result. whole: one store per vector. halves: 16 bytes at a time, for
// a four-lane result bound for an address 16 bytes off a 32-byte boundary, which a single store
// would carry across a cache line every other point. stream: 16-byte non-temporal stores (an SSE2
// instruction, the same on every path) to a 16-byte aligned output.
enum class Store : std::uint8_t { whole, halves, stream };

template <Store kStore>
[[gnu::always_inline]] inline void storeHalf(double* at, const F64x2& v) noexcept {
#if defined(__x86_64__)
  if constexpr (kStore == Store::stream) {
    _mm_stream_pd(at, __builtin_bit_cast(__m128d, v));
    return;
  }
#endif
  std::memcpy(at, &v, sizeof v);  // elsewhere a streamed store is a plain one
}

// Writes part p (lane_count<V> coordinates) of a point's result.
template <class V, Store kStore>
[[gnu::always_inline]] inline void storePart(HomVec4* dst, std::size_t p, const V& v) noexcept {
  if constexpr (lane_count<V> == 2) {
    storeHalf<kStore>(half(dst, p), v);
  } else if constexpr (kStore == Store::whole) {
    std::memcpy(reinterpret_cast<unsigned char*>(dst), &v, sizeof v);
  } else if constexpr (kStore == Store::halves) {
    // Copied from the vector's own bytes, the upper half is stored straight from the register
    // (vextractf128 to memory), without the shuffle that extracting it as a value costs.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
    std::memcpy(half(dst, 0), bytes, sizeof(F64x2));
    std::memcpy(half(dst, 1), bytes + sizeof(F64x2), sizeof(F64x2));
  } else {
    storeHalf<kStore>(half(dst, 0), __builtin_shufflevector(v, v, 0, 1));
    storeHalf<kStore>(half(dst, 1), __builtin_shufflevector(v, v, 2, 3));
  }
}

// rows = part p of M·point with one lane per row: (((0 + col0·x) + col1·y) + col2·z) + col3·w,
// summed with the 0 off the chain of dependent additions as PGL4::apply does (orv/kernel.hpp says
// why the bits are the same).
template <class V>
[[gnu::always_inline]] inline void rowsOf(const Columns<V>& m, const HomVec4& point, std::size_t p,
                                          V& rows) noexcept {
  const V last = m.part[3][p] * point.w + V{};
  rows = m.part[0][p] * point.x + m.part[1][p] * point.y;
  rows = rows + m.part[2][p] * point.z;
  rows = rows + last;
}

// dst = M·point. The point is read completely before its result is written.
template <class V, Store kStore>
[[gnu::always_inline]] inline void applyOne(const Columns<V>& m, const HomVec4& point,
                                            HomVec4* dst) noexcept {
  const HomVec4 p = point;
  V parts[part_count<V>];
#pragma GCC unroll 2
  for (std::size_t k = 0; k < part_count<V>; ++k)
    rowsOf(m, p, k, parts[k]);
#pragma GCC unroll 2
  for (std::size_t k = 0; k < part_count<V>; ++k)
    storePart<V, kStore>(dst, k, parts[k]);
}

// Points go in order, so overlapping sequences give what the plain loop gives. Points at even
// indices are stored as kEven says, those at odd indices as kOdd says.
template <class V, Store kEven, Store kOdd>
[[gnu::always_inline]] inline void applyRange(const Columns<V>& m, const HomVec4* in, HomVec4* out,
                                              std::size_t n) noexcept {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {  // four independent points per round, fewer loop instructions
    applyOne<V, kEven>(m, in[i], out + i);
    applyOne<V, kOdd>(m, in[i + 1], out + i + 1);
    applyOne<V, kEven>(m, in[i + 2], out + i + 2);
    applyOne<V, kOdd>(m, in[i + 3], out + i + 3);
  }
  // Up to three points are left, i being a multiple of four.
  if (i < n) applyOne<V, kEven>(m, in[i], out + i);
  if (i + 1 < n) applyOne<V, kOdd>(m, in[i + 1], out + i + 1);
  if (i + 2 < n) applyOne<V, kEven>(m, in[i + 2], out + i + 2);
}

// For four lanes and an `out` 16 bytes off a 32-byte boundary that does not overlap `in`, where
// every other result straddles a cache line (`first` is the index of the first that does, 0 or 1).
// Stored whole in order, a straddling result whose lines are not in the first-level cache holds up
// the stores behind it until both lines have arrived: a fifth of the batch's time once the output
// has left that cache. Here each straddling result's first half goes at once into the line that
// the result before it has just written, and its second half waits until the whole store of the
// result after it has claimed the next line. No store crosses a line; points are still read in
// order, but a result can be written after the next point is read, hence no overlap.
template <class V>
[[gnu::always_inline]] inline void applyRangeStaggered(const Columns<V>& m, const HomVec4* in,
                                                       HomVec4* out, std::size_t n,
                                                       std::size_t first) noexcept {
  static_assert(lane_count<V> == 4);
  std::size_t i = 0;
  if (first == 1 && n > 0) {
    applyOne<V, Store::whole>(m, in[0], out);
    i = 1;
  }
#pragma GCC unroll 2
  for (; i + 2 <= n; i += 2) {  // in[i] straddles, in[i + 1] does not
    V straddling;
    rowsOf(m, in[i], 0, straddling);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&straddling);
    std::memcpy(half(out + i, 0), bytes, sizeof(F64x2));
    applyOne<V, Store::whole>(m, in[i + 1], out + i + 1);
    std::memcpy(half(out + i, 1), bytes + sizeof(F64x2), sizeof(F64x2));
  }
  if (i < n) applyOne<V, Store::halves>(m, in[i], out + i);
}

// The points are read with scalar (broadcast) loads, whatever their alignment. Four-lane results
// are stored whole where that keeps each store inside a cache line: all of them for a 32-byte
// aligned `out`. For an `out` 16 bytes off (a std::vector<HomVec4> can start there) every other
// result would straddle a line; those are stored in halves, staggered as above where `out` does
// not overlap `in`, in order otherwise.
template <class V>
[[gnu::always_inline]] inline void applyBatchBody(const PGL4& m, const HomVec4* in, HomVec4* out,
                                                  std::size_t n, bool stream) noexcept {
  Columns<V> cols;
  loadColumns(m.data.data(), cols);
  const auto line_offset = reinterpret_cast<std::uintptr_t>(out) % 64;
  const bool straddling = lane_count<V> == 4 && (line_offset == 16 || line_offset == 48);
  if (stream && line_offset % 16 == 0) {
    applyRange<V, Store::stream, Store::stream>(cols, in, out, n);
#if defined(__x86_64__)
    _mm_sfence();  // order the streamed stores before whatever the caller does next
#endif
  } else if (straddling && !overlaps(in, n * sizeof(HomVec4), out, n * sizeof(HomVec4))) {
    if constexpr (lane_count<V> == 4) applyRangeStaggered(cols, in, out, n, line_offset == 16);
  } else if (straddling && line_offset == 16) {
    applyRange<V, Store::whole, Store::halves>(cols, in, out, n);  // points at 16, 80, 144, …
  } else if (straddling) {
    applyRange<V, Store::halves, Store::whole>(cols, in, out, n);  // points at 48, 112, …
  } else {
    applyRange<V, Store::whole, Store::whole>(cols, in, out, n);
  }
}

// ------------------------------------------------------------------------------------------------
// Fubini–Study distance batch
//
// The cosines are computed with vectors, lane_count<V> positions at a time, and a scalar loop takes
// their arc cosines: the standard acos has no vector form that rounds as it does. The two run a
// chunk apart: the next chunk's cosines are computed before this chunk's arc cosines, so that their
// square roots and divisions occupy the divider while the arc cosines, which leave it idle, run.
// A batch of one chunk or less computes its cosines and then their arc cosines. fsCosine gives a
// position shorter than NORM_FLOOR the cosine 1, whose arc cosine is exactly +0: the arc cosine
// loop has no branch of its own, and the branch predictor keeps its history for acos.

// Positions per chunk: 16 measured faster than 8 and 32 on 1e3 points, and as fast as computing
// all cosines first on 16.
constexpr std::size_t cosine_chunk = 16;
// Positions are asked for this many points ahead of the chunk whose arc cosines are taken: those
// take long enough for the hardware to stop fetching ahead by itself.
constexpr std::size_t prefetch_points = 64;

// The coordinates of lane_count<V> consecutive points, one point per lane, read 16 bytes at a time.
template <class V>
[[gnu::always_inline]] inline void loadPoints(const HomVec4* points, PointLanes<V>& a) noexcept {
  F64x2 xy[lane_count<V>], zw[lane_count<V>];
#pragma GCC unroll 4
  for (std::size_t l = 0; l < lane_count<V>; ++l) {
    std::memcpy(&xy[l], half(points + l, 0), sizeof xy[l]);
    std::memcpy(&zw[l], half(points + l, 1), sizeof zw[l]);
  }
  if constexpr (lane_count<V> == 2) {
    a = {__builtin_shufflevector(xy[0], xy[1], 0, 2), __builtin_shufflevector(xy[0], xy[1], 1, 3),
         __builtin_shufflevector(zw[0], zw[1], 0, 2), __builtin_shufflevector(zw[0], zw[1], 1, 3)};
  } else {
    // (x0 y0 x2 y2) and (x1 y1 x3 y3), then lanes 0 and 2 of each interleaved: (x0 x1 x2 x3).
    const F64x4 xy02 = __builtin_shufflevector(xy[0], xy[2], 0, 1, 2, 3);
    const F64x4 xy13 = __builtin_shufflevector(xy[1], xy[3], 0, 1, 2, 3);
    const F64x4 zw02 = __builtin_shufflevector(zw[0], zw[2], 0, 1, 2, 3);
    const F64x4 zw13 = __builtin_shufflevector(zw[1], zw[3], 0, 1, 2, 3);
    a = {__builtin_shufflevector(xy02, xy13, 0, 4, 2, 6),
         __builtin_shufflevector(xy02, xy13, 1, 5, 3, 7),
         __builtin_shufflevector(zw02, zw13, 0, 4, 2, 6),
         __builtin_shufflevector(zw02, zw13, 1, 5, 3, 7)};
  }
}

// cos[0..n) = the cosines of positions[0..n).
template <class V>
[[gnu::always_inline]] inline void cosines(const HomVec4* positions, const HomVec4& b, double nb,
                                           double* cos, std::size_t n) noexcept {
  std::size_t i = 0;
  for (; i + lane_count<V> <= n; i += lane_count<V>) {
    PointLanes<V> a;
    loadPoints(positions + i, a);
    V c;
    fsCosine(a, b, nb, c);
    std::memcpy(cos + i, &c, sizeof c);
  }
  for (; i < n; ++i) {
    const HomVec4& p = positions[i];
    fsCosine(PointLanes<double>{p.x, p.y, p.z, p.w}, b, nb, cos[i]);
  }
}

template <class V>
[[gnu::always_inline]] inline void fsDistanceBatchBody(const HomVec4* positions,
                                                       const HomVec4& reference, double* out,
                                                       std::size_t n) noexcept {
  const HomVec4 b = reference;  // a copy, which the stores to out cannot change
  const double nb = b.norm();
  if (nb < NORM_FLOOR) {
    std::fill_n(out, n, 0.0);
    return;
  }
  double cos[2][cosine_chunk];  // this chunk's cosines and the next chunk's
  cosines<V>(positions, b, nb, cos[0], std::min(cosine_chunk, n));
  for (std::size_t i = 0, chunk = 0; i < n; i += cosine_chunk, ++chunk) {
    const std::size_t next = i + cosine_chunk;
    if (next < n)
      cosines<V>(positions + next, b, nb, cos[(chunk + 1) % 2], std::min(cosine_chunk, n - next));
    // One request per 64-byte line; the last position stands in for those past the end.
    for (std::size_t p = 0; p < cosine_chunk; p += 2)
      __builtin_prefetch(positions + std::min(i + prefetch_points + p, n - 1));
    const double* current = cos[chunk % 2];
    const std::size_t count = std::min(cosine_chunk, n - i);
    for (std::size_t j = 0; j < count; ++j)
      out[i + j] = std::acos(current[j]);
  }
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
    // Row r of a·b is b's rows (as the columns of rowsOf) weighted by row r of a.
    const HomVec4 weights{a[4 * r], a[4 * r + 1], a[4 * r + 2], a[4 * r + 3]};
#pragma GCC unroll 2
    for (std::size_t p = 0; p < part_count<V>; ++p)
      rowsOf(b, weights, p, out.part[r][p]);
  }
}

template <class V>
[[gnu::always_inline]] inline void storeRows(const Rows<V>& rows, double* m) noexcept {
#pragma GCC unroll 4
  for (std::size_t r = 0; r < 4; ++r) {
#pragma GCC unroll 2
    for (std::size_t p = 0; p < part_count<V>; ++p)
      std::memcpy(m + 4 * r + lane_count<V> * p, &rows.part[r][p], sizeof(V));
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
    for (unsigned p = 0; p < part_count<V>; ++p) {
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
      for (unsigned p = 0; p < part_count<V>; ++p)
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
      for (unsigned p = 0; p < part_count<V>; ++p) {
        const V d = mx.part[r][p] - i4.part[r][p];
        large = large | (d >= INVERSE_RESIDUAL) | (d <= -INVERSE_RESIDUAL);
      }
    }
    bool any_large = false;
#pragma GCC unroll 4
    for (unsigned l = 0; l < lane_count<V>; ++l)
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

// ------------------------------------------------------------------------------------------------
// The paths of each instruction set: the bodies above compiled for it, and their table.

using ApplyBatchFn = void(const PGL4&, const HomVec4*, HomVec4*, std::size_t, bool) noexcept;
using DistanceBatchFn = void(const HomVec4*, const HomVec4&, double*, std::size_t) noexcept;
using InverseFn = PGL4(const PGL4&, double, std::uint32_t) noexcept;

struct Paths {
  ApplyBatchFn* apply_batch;
  DistanceBatchFn* fs_distance_batch;
  InverseFn* inverse;
};

// The functions of one instruction set: TARGET is its target attribute (empty for the baseline),
// which no template can take as a parameter.
// NOLINTBEGIN(bugprone-macro-parentheses): TARGET is an attribute, not an expression
#define ORV_PATHS(TARGET, V, SUFFIX)                                                            \
  TARGET void applyBatch##SUFFIX(const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n, \
                                 bool stream) noexcept {                                        \
    applyBatchBody<V>(m, in, out, n, stream);                                                   \
  }                                                                                             \
  TARGET void fsDistanceBatch##SUFFIX(const HomVec4* positions, const HomVec4& reference,       \
                                      double* out, std::size_t n) noexcept {                    \
    fsDistanceBatchBody<V>(positions, reference, out, n);                                       \
  }                                                                                             \
  TARGET PGL4 inverse##SUFFIX(const PGL4& m, double delta, std::uint32_t max_iter) noexcept {   \
    return inverseBody<V>(m, delta, max_iter);                                                  \
  }                                                                                             \
  constexpr Paths kPaths##SUFFIX{applyBatch##SUFFIX, fsDistanceBatch##SUFFIX, inverse##SUFFIX};

#if defined(__x86_64__)
ORV_PATHS(, F64x2, Sse2)
ORV_PATHS([[gnu::target("avx2")]], F64x4, Avx2)
ORV_PATHS([[gnu::target("avx512f,avx512vl")]], F64x4, Avx512)

// Indexed by Isa.
constexpr const Paths* paths_of[] = {&kPathsSse2, &kPathsAvx2, &kPathsAvx512};
constexpr const char* isa_names[] = {"SSE2", "AVX2", "AVX-512VL"};
#else
// Elsewhere (WebAssembly) only the two-lane path exists, in the compiler's portable vector
// arithmetic: the same operations in the same order, so the same bits. The wider sets are never
// supported there.
ORV_PATHS(, F64x2, Portable)
constexpr const Paths* paths_of[] = {&kPathsPortable, &kPathsPortable, &kPathsPortable};
constexpr const char* isa_names[] = {"two-lane", "AVX2", "AVX-512VL"};
#endif
#undef ORV_PATHS
// NOLINTEND(bugprone-macro-parentheses)

const Paths& paths(Isa isa) noexcept { return *paths_of[static_cast<std::size_t>(isa)]; }

}  // namespace

bool isaSupported(Isa isa) noexcept {
#if !defined(__x86_64__)
  return isa == Isa::sse2;
#else
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
#endif
}

Isa bestIsa() noexcept {
  // Initialised once, thread-safely, on the first call; a constant from then on.
  static const Isa best = isaSupported(Isa::avx512) ? Isa::avx512
                          : isaSupported(Isa::avx2) ? Isa::avx2
                                                    : Isa::sse2;
  return best;
}

const char* isaName(Isa isa) noexcept { return isa_names[static_cast<std::size_t>(isa)]; }

void applyBatch(Isa isa, const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n,
                bool stream) noexcept {
  paths(isa).apply_batch(m, in, out, n, stream);
}

void applyBatch(const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) noexcept {
  // In place, a streamed store would evict the line the next point is read from.
  const std::size_t bytes = n * sizeof(HomVec4);
  const bool stream = bytes >= stream_bytes && !overlaps(in, bytes, out, bytes);
  applyBatch(bestIsa(), m, in, out, n, stream);
}

void fsDistanceBatch(Isa isa, const HomVec4* positions, HomVec4 reference, double* out,
                     std::size_t n) noexcept {
  paths(isa).fs_distance_batch(positions, reference, out, n);
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
  return paths(isa).inverse(m, delta, max_iter);
}

PGL4 inverse(const PGL4& m, double delta, std::uint32_t max_iter) noexcept {
  return inverse(bestIsa(), m, delta, max_iter);
}

}  // namespace orv::detail
