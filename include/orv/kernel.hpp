// orv_kernel: points of real projective 3-space, their metric, and 4×4 projective
// transformations.
//
// Arithmetic is IEEE double precision with every sum in the order written here, left to right in
// index order (x, y, z, w; k = 0..3 in products), and never contracted into fused multiply-adds
// (the build compiles ORV code with -ffp-contract=off). Comparisons are ordinary IEEE
// comparisons: false when an operand is NaN. No operation allocates, fails or reports anything:
// degenerate input gets the fallback documented with the operation, and non-finite values
// propagate.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "orv/numeric.hpp"

namespace orv {

// Radius of the world sphere in kilometres (the distance conversions take metres).
inline constexpr double R_KALDRA_KM = 5838.4;

// The four standard affine charts, named after the coordinate that is non-zero on the chart.
enum class AffineCard : std::uint8_t { UW = 0, UX = 1, UY = 2, UZ = 3 };

namespace detail {

// The run-time forms of `PGL4::apply` and `PGL4::mul` keep a column of the matrix in vector lanes,
// one row per lane; each lane still sums its own row from 0 in column order, so the result is that
// of the scalar loops to the last bit. They are written out operation by operation, with no loop
// or alignment left for the optimiser to find, so that a program including this header at -O2 gets
// the same code as at -O3. A program built with AVX (-mavx, -march=x86-64-v3 and up) gets whole
// columns in four-lane registers; any other x86-64 program gets them in SSE2 halves. The two forms
// have names of their own and are always inlined, so that no out-of-line copy compiled for one
// instruction set can stand in for the other when the linker merges inline functions.
//
// Each row is summed as ((M(r,0)·v0 + M(r,1)·v1) + M(r,2)·v2) + (M(r,3)·v3 + 0), which is the
// documented (((0 + M(r,0)·v0) + M(r,1)·v1) + M(r,2)·v2) + M(r,3)·v3 to the bit, with the addition
// of 0 off the chain of dependent sums (three additions long instead of four). The two place the
// 0 differently, and adding 0 only changes the sign of a zero. In round-to-nearest a sum is −0 only
// when both its terms are; so the documented partial sums are +0 exactly where the other ones are
// −0, when every product so far is −0, and equal elsewhere. With all of the first three products −0
// both forms add the fourth to a zero and give +0 or that product; otherwise the third partial sums
// agree and are not −0, and adding M(r,3)·v3 + 0 instead of M(r,3)·v3 changes nothing.
//
// Two f64 lanes, one SSE2 register on x86-64: the two-lane type of ORV's vector code.
using F64x2 = double __attribute__((vector_size(16)));
// Four f64 lanes, one AVX register.
using F64x4 = double __attribute__((vector_size(32)));

#if defined(__AVX__)

// The columns of a column-major 4×4 matrix, column c in col<c>.
struct ColumnQuads {
  F64x4 col0, col1, col2, col3;
};

[[gnu::always_inline]] inline F64x4 loadF64x4(const double* p) noexcept {
  F64x4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[gnu::always_inline]] inline ColumnQuads columnQuads(const double* m) noexcept {
  return {loadF64x4(m), loadF64x4(m + 4), loadF64x4(m + 8), loadF64x4(m + 12)};
}

// out[0..3] = M·(v0, v1, v2, v3), rows r = (((0 + M(r,0)·v0) + M(r,1)·v1) + M(r,2)·v2) + M(r,3)·v3
// (summed as above); the 0 turns a −0 sum into +0, as the scalar sum does.
[[gnu::always_inline]] inline void applyQuads(const ColumnQuads& m, double v0, double v1, double v2,
                                              double v3, unsigned char* out) noexcept {
  const F64x4 zero{};
  const F64x4 rows = ((m.col0 * v0 + m.col1 * v1) + m.col2 * v2) + (m.col3 * v3 + zero);
  std::memcpy(out, &rows, sizeof rows);
}

#else

[[gnu::always_inline]] inline F64x2 loadF64x2(const double* p) noexcept {
  F64x2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The columns of a column-major 4×4 matrix in halves: lo<c> holds rows 0 and 1 of column c, hi<c>
// rows 2 and 3.
struct ColumnHalves {
  F64x2 lo0, lo1, lo2, lo3, hi0, hi1, hi2, hi3;
};

[[gnu::always_inline]] inline ColumnHalves columnHalves(const double* m) noexcept {
  return {loadF64x2(m),     loadF64x2(m + 4), loadF64x2(m + 8),  loadF64x2(m + 12),
          loadF64x2(m + 2), loadF64x2(m + 6), loadF64x2(m + 10), loadF64x2(m + 14)};
}

// out[0..3] = M·(v0, v1, v2, v3) with each row summed as above, two rows at a time.
[[gnu::always_inline]] inline void applyHalves(const ColumnHalves& m, double v0, double v1,
                                               double v2, double v3, unsigned char* out) noexcept {
  const F64x2 zero{};
  const F64x2 lo = ((m.lo0 * v0 + m.lo1 * v1) + m.lo2 * v2) + (m.lo3 * v3 + zero);
  const F64x2 hi = ((m.hi0 * v0 + m.hi1 * v1) + m.hi2 * v2) + (m.hi3 * v3 + zero);
  std::memcpy(out, &lo, sizeof lo);
  std::memcpy(out + sizeof lo, &hi, sizeof hi);
}

#endif

// The vector form of PGL4::apply: out = M·v for the column-major m.
[[gnu::always_inline]] inline void applyColumns(const double* m, double v0, double v1, double v2,
                                                double v3, unsigned char* out) noexcept {
#if defined(__AVX__)
  applyQuads(columnQuads(m), v0, v1, v2, v3, out);
#else
  applyHalves(columnHalves(m), v0, v1, v2, v3, out);
#endif
}

// The vector form of PGL4::mul: out = a·b for the column-major a and b, column by column.
[[gnu::always_inline]] inline void mulColumns(const double* a, const double* b,
                                              unsigned char* out) noexcept {
#if defined(__AVX__)
  const ColumnQuads columns = columnQuads(a);
  applyQuads(columns, b[0], b[1], b[2], b[3], out);
  applyQuads(columns, b[4], b[5], b[6], b[7], out + 32);
  applyQuads(columns, b[8], b[9], b[10], b[11], out + 64);
  applyQuads(columns, b[12], b[13], b[14], b[15], out + 96);
#else
  const ColumnHalves columns = columnHalves(a);
  applyHalves(columns, b[0], b[1], b[2], b[3], out);
  applyHalves(columns, b[4], b[5], b[6], b[7], out + 32);
  applyHalves(columns, b[8], b[9], b[10], b[11], out + 64);
  applyHalves(columns, b[12], b[13], b[14], b[15], out + 96);
#endif
}

}  // namespace detail

// A homogeneous point: any four values (the zero vector included); v and c·v, c ≠ 0, name the same
// projective point. Only `normalize` yields unit vectors, the representatives on S³.
struct HomVec4 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double w = 0.0;

  static constexpr HomVec4 init(double x, double y, double z, double w) noexcept {
    return {x, y, z, w};
  }
  // The representative (x, y, z, 1) of a Cartesian point.
  static constexpr HomVec4 fromCartesian(double x, double y, double z) noexcept {
    return {x, y, z, 1.0};
  }
  // ((a.x·b.x + a.y·b.y) + a.z·b.z) + a.w·b.w
  static constexpr double dot(HomVec4 a, HomVec4 b) noexcept {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  }

  // Euclidean norm of all four coordinates.
  double norm() const noexcept;
  // The unit representative; a vector with norm below NORM_FLOOR becomes (0, 0, 0, 1).
  HomVec4 normalize() const noexcept;
  // Cartesian coordinates in the w chart: (x, y, z)/w when |w| ≥ W_EPS; otherwise the point is a
  // direction, (x, y, z)/norm, or (0, 0, 0) when the norm is below NORM_FLOOR.
  std::array<double, 3> cartesian3() const noexcept;
  // The chart of the coordinate of largest magnitude, ties going in the order w, x, y, z.
  AffineCard pickBestCard() const noexcept;

  // Projective equality: both norms at least `tol` and |cos| of the angle between a and b above
  // 1 − tol (strictly). The sign of the representatives does not matter.
  static bool isSamePoint(HomVec4 a, HomVec4 b, double tol) noexcept;
  // isSamePoint(a, −b, tol): states the Z/2Z identification, so it is true for b = ±a alike.
  static bool isAntipodalTo(HomVec4 a, HomVec4 b, double tol) noexcept;

  friend constexpr bool operator==(HomVec4, HomVec4) noexcept = default;
};

// The vector code reads and writes a point as four packed doubles.
static_assert(sizeof(HomVec4) == 4 * sizeof(double) && std::is_standard_layout_v<HomVec4>);

// A 4×4 matrix acting on column vectors, stored column-major: element (r, c) is data[c·4 + r], so
// a translation lives in data[12], data[13], data[14]. Any sixteen values form a valid matrix;
// the default value is the zero matrix.
struct PGL4 {
  std::array<double, 16> data{};

  using Rows = std::array<std::array<double, 4>, 4>;

  static constexpr PGL4 identity() noexcept {
    return {{1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0}};
  }
  // Wraps sixteen values given in storage (column-major) order.
  static constexpr PGL4 init(const std::array<double, 16>& values) noexcept { return {values}; }
  // A matrix written out row by row: m[r][c] becomes element (r, c).
  static constexpr PGL4 fromRowMajor(const Rows& m) noexcept {
    PGL4 result;
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c)
        result.set(r, c, m[r][c]);
    }
    return result;
  }

  // Element access; row and col are in 0..3.
  constexpr double get(unsigned row, unsigned col) const noexcept { return data[col * 4 + row]; }
  constexpr void set(unsigned row, unsigned col, double val) noexcept { data[col * 4 + row] = val; }

  // M·v, not normalised. Result r = (((0 + M(r,0)·x) + M(r,1)·y) + M(r,2)·z) + M(r,3)·w.
  [[gnu::always_inline]] constexpr HomVec4 apply(HomVec4 v) const noexcept {
    if (!std::is_constant_evaluated()) {
      HomVec4 result;
      detail::applyColumns(data.data(), v.x, v.y, v.z, v.w,
                           reinterpret_cast<unsigned char*>(&result));
      return result;
    }
    const std::array<double, 4> in{v.x, v.y, v.z, v.w};
    std::array<double, 4> out{};
    for (unsigned r = 0; r < 4; ++r) {
      double sum = 0.0;
      for (unsigned c = 0; c < 4; ++c)
        sum += get(r, c) * in[c];
      out[r] = sum;
    }
    return {out[0], out[1], out[2], out[3]};
  }

  // The product a·b (b acts first). Element (r, c) = Σ_k a(r,k)·b(k,c), summed from 0 in k order.
  // Column c of the product is a applied to column c of b.
  [[gnu::always_inline]] static constexpr PGL4 mul(const PGL4& a, const PGL4& b) noexcept {
    PGL4 result;
    if (!std::is_constant_evaluated()) {
      detail::mulColumns(a.data.data(), b.data.data(),
                         reinterpret_cast<unsigned char*>(result.data.data()));
      return result;
    }
    for (unsigned c = 0; c < 4; ++c) {
      for (unsigned r = 0; r < 4; ++r) {
        double sum = 0.0;
        for (unsigned k = 0; k < 4; ++k)
          sum += a.get(r, k) * b.get(k, c);
        result.set(r, c, sum);
      }
    }
    return result;
  }

  constexpr PGL4 transpose() const noexcept {
    PGL4 result;
    for (unsigned r = 0; r < 4; ++r) {
      for (unsigned c = 0; c < 4; ++c)
        result.set(r, c, get(c, r));
    }
    return result;
  }

  // Laplace expansion along row 0: a00·M00 − a01·M01 + a02·M02 − a03·M03, left to right.
  constexpr double det() const noexcept {
    return get(0, 0) * minor(0, 0) - get(0, 1) * minor(0, 1) + get(0, 2) * minor(0, 2) -
           get(0, 3) * minor(0, 3);
  }

  // This matrix scaled by pow(|det|, −0.25), so that |det| becomes 1 with its sign kept;
  // unchanged when |det| < DET_FLOOR.
  PGL4 normalizeDet() const noexcept;

  // Newton–Schulz approximation of (self + delta·I)⁻¹ from X0 = m_regᵀ/‖m_reg‖F², stopping after
  // the first step whose residual max|m_reg·X − I| is below INVERSE_RESIDUAL, or after `max_iter`
  // steps.
  PGL4 inverse(double delta, std::uint32_t max_iter) const noexcept;

  // (−1)^(r+c) times the 3×3 determinant left when row r and column c are struck out: the
  // derivative of det with respect to element (r, c). It does not read row r or column c.
  constexpr double cofactor(unsigned r, unsigned c) const noexcept {
    const double m = minor(r, c);
    return (r + c) % 2 == 0 ? m : -m;
  }

  friend constexpr bool operator==(const PGL4&, const PGL4&) noexcept = default;

 private:
  // The 3×3 determinant left when row r and column c are struck out, expanded along its first
  // row; the cofactor sign is applied by `det`.
  constexpr double minor(unsigned r, unsigned c) const noexcept {
    std::array<std::array<double, 3>, 3> s{};
    unsigned si = 0;
    for (unsigned i = 0; i < 4; ++i) {
      if (i == r) continue;
      unsigned sj = 0;
      for (unsigned j = 0; j < 4; ++j) {
        if (j == c) continue;
        s[si][sj++] = get(i, j);
      }
      ++si;
    }
    return s[0][0] * (s[1][1] * s[2][2] - s[1][2] * s[2][1]) -
           s[0][1] * (s[1][0] * s[2][2] - s[1][2] * s[2][0]) +
           s[0][2] * (s[1][0] * s[2][1] - s[1][1] * s[2][0]);
  }
};

// The identity with column 3 = (tx, ty, tz, 1); points at infinity (w = 0) do not move.
constexpr PGL4 pglTranslate(double tx, double ty, double tz) noexcept {
  PGL4 m = PGL4::identity();
  m.data[12] = tx;
  m.data[13] = ty;
  m.data[14] = tz;
  return m;
}

// diag(sx, sy, sz, 1).
constexpr PGL4 pglScale(double sx, double sy, double sz) noexcept {
  PGL4 m;
  m.data[0] = sx;
  m.data[5] = sy;
  m.data[10] = sz;
  m.data[15] = 1.0;
  return m;
}

// Rotation by `angle` radians about the z axis: (x, y, z, w) ↦ (c·x − s·y, s·x + c·y, z, w).
PGL4 pglRotateZ(double angle) noexcept;

// The `fromRowMajor` matrix of rows fixed when the program is built. A singular matrix (zero or
// NaN determinant) is not a constant expression, so passing one fails the build.
consteval PGL4 pglFromHomogeneous(const PGL4::Rows& m) {
  const PGL4 result = PGL4::fromRowMajor(m);
  const double d = result.det();
  if (!(d < 0.0 || d > 0.0)) throw "pglFromHomogeneous: the matrix is singular";
  return result;
}

// ---------------------------------------------------------------------------------------------
// Fubini–Study metric

// The angle in [0, π/2] between the lines spanned by a and b: acos of the cosine ratio
// |a·b|/(|a||b|) capped at 1 (a NaN ratio counts as 1). 0 when either norm is below NORM_FLOOR.
double fsDistance(HomVec4 a, HomVec4 b) noexcept;
// cos(s/(2R)): the cosine W that a world length s (metres) on the radius R (metres) stands for.
double wFromDistance(double s_meters, double R_meters) noexcept;
// (2R)·acos(W clamped into [−1, 1]); a NaN W counts as 1. Lies in [0, 2πR].
double sFromW(double W, double R_meters) noexcept;

// ---------------------------------------------------------------------------------------------
// Operator constructions

// J = a − aᵀ (twice the antisymmetric part; no factor ½).
PGL4 computeResonance(const PGL4& a) noexcept;
// Π = I − (jcᵀ·(jc·jcᵀ + δI)⁻¹)·jc with the inverse taken by Newton–Schulz with the same δ as its
// shift and at most 8 steps, so the matrix inverted is jc·jcᵀ + 2δI.
PGL4 computeProjector(const PGL4& jc, double delta) noexcept;
// x·y + ε·(x ∘ y), element i gaining (ε·x[i])·y[i].
PGL4 deformedTensorProduct(const PGL4& x, const PGL4& y, double epsilon) noexcept;

// ---------------------------------------------------------------------------------------------
// Numeric primitives

// Four f32 lanes operated on as one value: products and quotients act lane by lane.
using F32x4 = float __attribute__((vector_size(16)));

// The lanes (x, y, z, w) in argument order.
inline F32x4 f32x4(float x, float y, float z, float w) noexcept { return F32x4{x, y, z, w}; }

// Lane-wise products summed in lane order: ((m0 + m1) + m2) + m3.
inline float simdDot4(F32x4 a, F32x4 b) noexcept {
  const F32x4 m = a * b;
  return ((m[0] + m[1]) + m[2]) + m[3];
}

// v divided lane by lane by its length over all four lanes; (0, 0, 0, 1) when the squared length
// is below SQUARED_LENGTH_FLOOR_F32.
F32x4 simdNormalize3(F32x4 v) noexcept;

// Approximately 1/√x, without a square root or a division: a first estimate from the bit pattern
// of x refined by exactly three Newton–Raphson steps, leaving a relative error of at most a few
// 1e-11 for positive normal x. 0.0 for x ≤ 0; subnormal and infinite x give no approximation.
constexpr double cordicInvSqrt(double x) noexcept {
  if (x <= 0.0) return 0.0;
  // The builtin behind std::bit_cast, which the WebAssembly toolchain's standard library lacks.
  auto y = __builtin_bit_cast(
      double, std::uint64_t{0x5fe6eb50c7b537a9} - (__builtin_bit_cast(std::uint64_t, x) >> 1));
  const double half_x = 0.5 * x;
  y = y * (1.5 - (half_x * y) * y);
  y = y * (1.5 - (half_x * y) * y);
  y = y * (1.5 - (half_x * y) * y);
  return y;
}

}  // namespace orv
