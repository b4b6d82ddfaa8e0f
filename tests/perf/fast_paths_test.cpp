// The vectorised paths against the scalar definitions, bit for bit: every instruction set this CPU
// runs, the dispatchers, and the public functions that use them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "fast_paths.hpp"
#include "kernel/kernel_test_util.hpp"
#include "orv/gpu.hpp"
#include "orv/kernel.hpp"
#include "perf/reference.hpp"

namespace orv::detail {
inline void PrintTo(Isa isa, std::ostream* os) { *os << isaName(isa); }
}  // namespace orv::detail

namespace orv {
namespace {

using detail::Isa;
using test::refApply;
using test::refInverse;
using test::refMul;
using test::same;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Lengths around every unrolling and block boundary of the paths (two and four lanes, four points
// per round, chunks of 16 cosines) and the small batches of a typical object (16, 64).
constexpr std::size_t kLengths[] = {0,  1,  2,  3,   4,   5,   7,   8,   9,   15,  16,   17,
                                    63, 64, 65, 127, 255, 256, 257, 258, 511, 513, 1000, 1031};

// Where a sequence starts relative to a cache line: every place a std::vector<HomVec4> can start
// (multiples of 16 bytes), and the 8-byte steps that HomVec4's own alignment allows.
constexpr std::size_t kOffsets[] = {0, 16, 32, 48, 8, 24};

// Rows that a fused multiply-add, another order of the sum or a missing leading 0 + would change
// (see the test below). With the point (1, 1, 1 − 2⁻³⁰, 1): row 0 sums −1 + (1 + 2⁻³⁰)(1 − 2⁻³⁰),
// whose product rounds to 1; row 1 sums 1e16 − 1e16 + 1, where 1 is lost if it meets ±1e16 first;
// row 2 has −0 products only.
constexpr PGL4 kSensitive = PGL4::fromRowMajor({{{-1.0, 0.0, 1.0 + 0x1p-30, 0.0},
                                                 {1e16, -1e16, 0.0, 1.0},
                                                 {-0.0, -0.0, -0.0, -0.0},
                                                 {0.5, -0.25, 0.125, 1e-16}}});
constexpr HomVec4 kSensitivePoint{1.0, 1.0, 1.0 - 0x1p-30, 1.0};

class FastPathsPerIsa : public ::testing::TestWithParam<Isa> {
 protected:
  void SetUp() override {
    if (!detail::isaSupported(GetParam()))
      GTEST_SKIP() << detail::isaName(GetParam()) << " is not available on this CPU";
  }
};

std::string isaParamName(const ::testing::TestParamInfo<Isa>& info) {
  std::string name = detail::isaName(info.param);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name;
}

INSTANTIATE_TEST_SUITE_P(, FastPathsPerIsa, ::testing::Values(Isa::sse2, Isa::avx2, Isa::avx512),
                         isaParamName);

TEST(FastPathsIsa, BestIsSupportedAndTheWidestThere) {
  EXPECT_TRUE(detail::isaSupported(Isa::sse2));
  EXPECT_TRUE(detail::isaSupported(detail::bestIsa()));
  EXPECT_TRUE(!detail::isaSupported(Isa::avx512) || detail::isaSupported(Isa::avx2));
  const Isa widest = detail::isaSupported(Isa::avx512) ? Isa::avx512
                     : detail::isaSupported(Isa::avx2) ? Isa::avx2
                                                       : Isa::sse2;
  EXPECT_EQ(detail::bestIsa(), widest);
}

// The sensitive rows do tell the defined sum from its variants, so a path that fused, reordered or
// dropped the leading 0 + would fail the comparisons below.
TEST(FastPathsSensitive, RowsTellTheDefinitionFromItsVariants) {
  const double v[4] = {kSensitivePoint.x, kSensitivePoint.y, kSensitivePoint.z, kSensitivePoint.w};
  const auto p = [&](unsigned r, unsigned c) { return kSensitive.get(r, c) * v[c]; };
  const HomVec4 defined = refApply(kSensitive, kSensitivePoint);

  double fused = 0.0;
  for (unsigned c = 0; c < 4; ++c)
    fused = std::fma(kSensitive.get(0, c), v[c], fused);
  EXPECT_EQ(defined.x, 0.0);
  EXPECT_NE(fused, 0.0);

  const double reversed = ((p(1, 3) + p(1, 2)) + p(1, 1)) + p(1, 0);
  const double lane_pairs = (p(1, 0) + p(1, 2)) + (p(1, 1) + p(1, 3));
  EXPECT_EQ(defined.y, 1.0);
  EXPECT_EQ(reversed, 0.0);
  EXPECT_EQ(lane_pairs, 0.0);

  const double no_leading_zero = ((p(2, 0) + p(2, 1)) + p(2, 2)) + p(2, 3);
  EXPECT_EQ(test::bits(defined.z), test::bits(0.0));
  EXPECT_EQ(test::bits(no_leading_zero), test::bits(-0.0));
}

// ------------------------------------------------------------------------------------------------
// PGL action batch

void expectBatchMatches(std::span<const HomVec4> out, std::span<const HomVec4> expected) {
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_TRUE(same(out[i], expected[i])) << "point " << i << " of " << expected.size();
}

// An apply batch, however it is dispatched: (m, in, out, n).
using ApplyBatch = std::function<void(const PGL4&, const HomVec4*, HomVec4*, std::size_t)>;

// `batch` on every length, at every offset of input and output, and in place at every offset,
// against the definition point by point.
void expectApplyBatchMatches(const ApplyBatch& batch) {
  test::Values values(1);
  for (const std::size_t n : kLengths) {
    const PGL4 m = n % 3 == 0 ? kSensitive : values.matrix();
    std::vector<HomVec4> points(n), expected(n);
    for (std::size_t i = 0; i < n; ++i) {
      points[i] = i % 5 == 0 ? kSensitivePoint : values.point();
      expected[i] = refApply(m, points[i]);
    }
    for (const std::size_t in_offset : kOffsets) {
      test::PointBuffer in(n, in_offset);
      for (const std::size_t out_offset : kOffsets) {
        SCOPED_TRACE(::testing::Message()
                     << "n " << n << ", input at +" << in_offset << ", output at +" << out_offset);
        std::copy(points.begin(), points.end(), in.data());
        test::PointBuffer out(n, out_offset);
        batch(m, in.data(), out.data(), n);
        expectBatchMatches(out.span(), expected);
        if (::testing::Test::HasFatalFailure()) return;
      }
      SCOPED_TRACE(::testing::Message() << "n " << n << ", in place at +" << in_offset);
      batch(m, in.data(), in.data(), n);  // each point is read before it is overwritten
      expectBatchMatches(in.span(), expected);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST_P(FastPathsPerIsa, ApplyBatchMatchesDefinition) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "streamed" : "cached");
    expectApplyBatchMatches([&](const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) {
      detail::applyBatch(GetParam(), m, in, out, n, stream);
    });
  }
}

// The same through the path chosen once for the process, and through the public function.
TEST(FastPathsApplyBatch, DispatchedBatchMatchesDefinition) {
  expectApplyBatchMatches([](const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) {
    detail::applyBatch(m, in, out, n);
  });
  expectApplyBatchMatches([](const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) {
    cpuPGLActionBatch(m, {in, n}, {out, n});
  });
}

// Partly overlapping sequences give what the element-by-element loop gives, reads of points that
// earlier steps wrote included.
// `batch` with its output shifted against its input, the input starting at every offset from a
// cache line, against the element-by-element loop run on a copy of the same storage.
void expectApplyBatchOverlapKeepsElementOrder(const ApplyBatch& batch) {
  test::Values values(2, 0);
  const PGL4 m = values.matrix();
  const struct {
    const char* name;
    std::ptrdiff_t out_shift;  // output start relative to the input, in doubles
  } cases[] = {{"output one point ahead", 4},       {"output half a point ahead", 2},
               {"output a quarter point ahead", 1}, {"output one point behind", -4},
               {"output half a point behind", -2},  {"output three points behind", -12}};
  const std::size_t n = 37;
  const std::size_t margin = 4;  // points before and after the input
  for (const auto& c : cases) {
    for (const std::size_t offset : kOffsets) {
      SCOPED_TRACE(::testing::Message() << c.name << ", input at +" << offset);
      test::PointBuffer buffer(n + 2 * margin, offset), expected_buffer(n + 2 * margin, offset);
      for (HomVec4& p : buffer.span())
        p = values.point();
      std::copy(buffer.span().begin(), buffer.span().end(), expected_buffer.data());
      const auto at = [&](const test::PointBuffer& b, std::ptrdiff_t shift) {
        return reinterpret_cast<HomVec4*>(reinterpret_cast<double*>(b.data() + margin) + shift);
      };
      for (std::size_t i = 0; i < n; ++i)
        at(expected_buffer, c.out_shift)[i] = refApply(m, at(expected_buffer, 0)[i]);
      batch(m, at(buffer, 0), at(buffer, c.out_shift), n);
      expectBatchMatches(buffer.span(), expected_buffer.span());
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST_P(FastPathsPerIsa, ApplyBatchOverlapKeepsElementOrder) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "streamed" : "cached");
    expectApplyBatchOverlapKeepsElementOrder(
        [&](const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) {
          detail::applyBatch(GetParam(), m, in, out, n, stream);
        });
  }
}

TEST(FastPathsApplyBatch, DispatchedOverlapKeepsElementOrder) {
  expectApplyBatchOverlapKeepsElementOrder(
      [](const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) {
        cpuPGLActionBatch(m, {in, n}, {out, n});
      });
}

// Above the streaming threshold, through the public function, with outputs aligned to 32 and to
// 16 bytes.
TEST(FastPathsApplyBatch, LargeBatchThroughCpuPGLActionBatch) {
  const std::size_t n = detail::stream_bytes / sizeof(HomVec4) + 5;
  test::Values values(3);
  const PGL4 m = values.matrix();
  test::PointBuffer in(n, 0);
  for (HomVec4& p : in.span())
    p = values.point();
  for (const std::size_t offset : {0u, 16u}) {
    SCOPED_TRACE(::testing::Message() << "output offset " << offset);
    test::PointBuffer out(n, offset);
    cpuPGLActionBatch(m, in.span(), out.span());
    for (std::size_t i = 0; i < n; ++i)
      ASSERT_TRUE(same(out.data()[i], refApply(m, in.data()[i]))) << "point " << i;
  }
}

// ------------------------------------------------------------------------------------------------
// Fubini–Study distance batch

// A distance batch, however it is dispatched: (positions, reference, out, n).
using DistanceBatch = std::function<void(const HomVec4*, HomVec4, double*, std::size_t)>;

// `batch` on every length, with positions at every offset from a cache line, against fsDistance.
void expectDistanceBatchMatches(const DistanceBatch& batch) {
  test::Values values(4);
  const struct {
    const char* name;
    HomVec4 reference;
  } references[] = {
      {"unit", HomVec4{0.5, -0.5, 0.5, 0.5}},
      {"random", values.point()},
      {"long", HomVec4{3e150, -1e150, 2e150, 1e150}},
      {"short: every distance 0", HomVec4{1e-16, 0.0, 0.0, 0.0}},
      {"norm exactly 1e-15, not short", HomVec4{0.0, 0.0, 1e-15, 0.0}},
      {"zero", HomVec4{}},
      {"NaN", HomVec4{kNaN, 0.0, 1.0, 0.0}},
      {"infinite", HomVec4{kInf, 1.0, 0.0, 0.0}},
  };
  for (const auto& r : references) {
    for (const std::size_t n : kLengths) {
      const std::size_t offset = kOffsets[n % std::size(kOffsets)];
      SCOPED_TRACE(::testing::Message()
                   << r.name << " reference, n " << n << ", positions at +" << offset);
      test::PointBuffer position_buffer(n, offset);
      const std::span<HomVec4> positions = position_buffer.span();
      for (std::size_t i = 0; i < n; ++i) {
        switch (i % 7) {
          case 0:  // the reference's antipode: a ratio that may round above 1
            positions[i] = {-r.reference.x, -r.reference.y, -r.reference.z, -r.reference.w};
            break;
          case 1:  // too short to name a point
            positions[i] = {1e-16 * values.next(), 0.0, 5e-17, 0.0};
            break;
          case 2:  // norm exactly 1e-15 (√(x²) is x): long enough, as the test is strict
            positions[i] = {0.0, -1e-15, 0.0, 0.0};
            break;
          default:
            positions[i] = values.point();
        }
      }
      std::vector<double> out(n, -7.0);
      batch(positions.data(), r.reference, out.data(), n);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(same(out[i], fsDistance(positions[i], r.reference)))
            << "position " << i << ": " << out[i];
      }
    }
  }
}

TEST_P(FastPathsPerIsa, DistanceBatchMatchesDefinition) {
  expectDistanceBatchMatches(
      [&](const HomVec4* positions, HomVec4 reference, double* out, std::size_t n) {
        detail::fsDistanceBatch(GetParam(), positions, reference, out, n);
      });
}

// Every offset of every length, through the path chosen once for the process.
TEST(FastPathsDistanceBatch, DispatchedBatchMatchesDefinition) {
  for (const std::size_t offset : kOffsets) {
    SCOPED_TRACE(::testing::Message() << "positions at +" << offset);
    test::Values values(9);
    for (const std::size_t n : kLengths) {
      test::PointBuffer positions(n, offset);
      for (HomVec4& p : positions.span())
        p = values.point();
      const HomVec4 reference = values.point();
      std::vector<double> out(n);
      cpuFSDistanceBatch(positions.span(), reference, out);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(same(out[i], fsDistance(positions.data()[i], reference)))
            << "n " << n << ", position " << i;
      }
    }
  }
}

// Through the public function: the shorter sequence sets the count and the rest of the output
// keeps its values.
TEST(FastPathsDistanceBatch, CpuFSDistanceBatchWritesOnlyTheCommonLength) {
  test::Values values(5);
  std::vector<HomVec4> positions(300);
  for (HomVec4& p : positions)
    p = values.point();
  const HomVec4 reference = values.point();
  std::vector<double> out(310, 9.0);
  cpuFSDistanceBatch(positions, reference, out);
  for (std::size_t i = 0; i < positions.size(); ++i)
    ASSERT_TRUE(same(out[i], fsDistance(positions[i], reference))) << "position " << i;
  for (std::size_t i = positions.size(); i < out.size(); ++i)
    EXPECT_EQ(out[i], 9.0);
}

// Distances written over the positions they are computed from: each one is computed from what the
// element-by-element loop would read at that point (writing from double 30 on, it overwrites
// positions 7 to 9 before it reads them).
TEST(FastPathsDistanceBatch, OverlapKeepsElementOrder) {
  test::Values values(8, 0);
  const std::size_t n = 21;
  std::vector<double> buffer(4 * n), expected_buffer;
  for (double& v : buffer)
    v = values.next();
  expected_buffer = buffer;
  const HomVec4 reference = values.point();
  const auto* ref_positions = reinterpret_cast<const HomVec4*>(expected_buffer.data());
  double* ref_out = expected_buffer.data() + 30;
  for (std::size_t i = 0; i < n; ++i)
    ref_out[i] = fsDistance(ref_positions[i], reference);
  detail::fsDistanceBatch(reinterpret_cast<const HomVec4*>(buffer.data()), reference,
                          buffer.data() + 30, n);
  for (std::size_t i = 0; i < buffer.size(); ++i)
    ASSERT_TRUE(same(buffer[i], expected_buffer[i])) << "double " << i;
}

// ------------------------------------------------------------------------------------------------
// Newton–Schulz inverse

TEST_P(FastPathsPerIsa, InverseMatchesDefinition) {
  const struct {
    const char* name;
    PGL4 m;
    double delta;
    std::uint32_t max_iter;
  } cases[] = {
      {"diag(2, 3, 4) shifted, 15 steps", pglScale(2.0, 3.0, 4.0), 1e-10, 15},
      {"translation, 15 steps", pglTranslate(10.0, 20.0, 30.0), 0.0, 15},
      {"translation, 100 steps", pglTranslate(10.0, 20.0, 30.0), 0.0, 100},
      {"identity", PGL4::identity(), 0.0, 20},
      {"no step", pglScale(2.0, 3.0, 4.0), 0.0, 0},
      {"singular", test::diag(1.0, 1.0, 1.0, 0.0), 0.0, 50},
      {"singular shifted", test::diag(1.0, 1.0, 1.0, 0.0), 0.001, 50},
      {"zero matrix", PGL4{}, 0.0, 3},
      {"NaN element", PGL4::init({1, 0, 0, 0, 0, kNaN, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), 0.0, 5},
      {"infinite element", PGL4::init({kInf, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), 0.0, 5},
      {"order and fusion sensitive", kSensitive, 0.5, 30},
      {"negative zeros",
       PGL4::init(
           {2, -0.0, -0.0, -0.0, -0.0, 2, -0.0, -0.0, -0.0, -0.0, 2, -0.0, -0.0, -0.0, -0.0, 2}),
       -0.0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(same(detail::inverse(GetParam(), c.m, c.delta, c.max_iter),
                     refInverse(c.m, c.delta, c.max_iter)));
  }
  // Seeded matrices, well and badly conditioned, with every step count up to past convergence.
  test::Values values(6, 40);
  for (int i = 0; i < 200; ++i) {
    PGL4 m = values.matrix();
    if (i % 2 == 0) {
      for (unsigned d = 0; d < 4; ++d)
        m.data[d * 5] += 3.0;
    }
    const double delta = i % 3 == 0 ? 0.0 : 1e-3 * values.next();
    const auto max_iter = static_cast<std::uint32_t>(values.below(40));
    SCOPED_TRACE(::testing::Message() << "seeded matrix " << i << ", " << max_iter << " steps");
    ASSERT_TRUE(
        same(detail::inverse(GetParam(), m, delta, max_iter), refInverse(m, delta, max_iter)));
  }
}

TEST(FastPathsInverse, MemberUsesTheFastPath) {
  const PGL4 m = pglTranslate(10.0, 20.0, 30.0);
  EXPECT_TRUE(same(m.inverse(0.0, 100), refInverse(m, 0.0, 100)));
}

// ------------------------------------------------------------------------------------------------
// The run-time paths of apply and mul in the header

TEST(FastPathsHeader, ApplyAndMulMatchDefinition) {
  test::Values values(7);
  for (int i = 0; i < 2000; ++i) {
    const PGL4 a = i % 10 == 0 ? kSensitive : values.matrix();
    const PGL4 b = values.matrix();
    const HomVec4 v = i % 10 == 0 ? kSensitivePoint : values.point();
    ASSERT_TRUE(same(a.apply(v), refApply(a, v))) << "case " << i;
    ASSERT_TRUE(same(PGL4::mul(a, b), refMul(a, b))) << "case " << i;
  }
}

// The constant-evaluated loops and the run-time vectors give the same bits.
TEST(FastPathsHeader, CompileTimeAndRunTimeAgree) {
  constexpr PGL4 b = PGL4::fromRowMajor({{{1e16, 0.5, -0.0, 3.0},
                                          {1.0, 1.0 - 0x1p-30, 2.0, -0.0},
                                          {-1e16, 0.25, 0.0, 1.0},
                                          {-0.0, -1.0, 1e-300, 0.5}}});
  constexpr PGL4 product = PGL4::mul(kSensitive, b);
  constexpr HomVec4 image = kSensitive.apply(kSensitivePoint);
  volatile double keep = 1.0;  // makes the run-time operands unknown to the compiler
  PGL4 a = kSensitive;
  a.data[0] *= keep;
  HomVec4 v = kSensitivePoint;
  v.x *= keep;
  EXPECT_TRUE(test::sameBits(PGL4::mul(a, b), product));
  EXPECT_TRUE(test::samePointBits(a.apply(v), image));
}

}  // namespace
}  // namespace orv
