// The vectorised run-time paths of the kernel's loops, one per instruction set, behind one
// interface: the kernel's inverse and the GPU module's CPU batches call these.
//
// Every path computes exactly what the scalar definitions compute, to the last bit: the vectors
// run across independent elements (the rows of one product, the points of a batch), each lane
// keeps its sum in the defined order, and nothing is fused into a multiply-add. The addition of
// 0.0 that starts a product's sums is made to the last product instead, off the chain of dependent
// additions, which gives the same bits (orv/kernel.hpp shows why). Only the payload and sign of a
// NaN result may differ, which no order of operations fixes.
//
// Each operation comes twice: with an explicit instruction set (the tests run every path the CPU
// has), and with the best one for this CPU, which is looked up once per process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orv/kernel.hpp"

namespace orv::detail {

// sse2: the x86-64 baseline, two lanes (on other targets, such as WebAssembly, the same two-lane
// code in portable vector arithmetic, the only path there). avx2: four lanes. avx512: four lanes
// with AVX-512VL's broadcasting memory operands (the wider registers would only add shuffles).
enum class Isa : std::uint8_t { sse2, avx2, avx512 };

// Whether this CPU and operating system can run code for `isa`.
bool isaSupported(Isa isa) noexcept;
// The best instruction set for these paths on this CPU, determined on the first call.
Isa bestIsa() noexcept;
const char* isaName(Isa isa) noexcept;

// Batches of this many output bytes and more are written with non-temporal stores: a result
// that large would only evict the caches on its way to memory.
inline constexpr std::size_t stream_bytes = std::size_t{16} << 20;

// out[i] = m.apply(in[i]) for i = 0, 1, …, n − 1 in that order, each point read before its result
// is written: `out` may be `in` or overlap it in any way, with the plain loop's result. `stream`
// selects non-temporal stores (used when `out` is 16-byte aligned). Any alignment of `in` and
// `out` gives the same result. Where `out` is 16-byte aligned no store crosses a 64-byte cache
// line (results that would are stored in 16-byte halves); other alignments store results whole.
void applyBatch(Isa isa, const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n,
                bool stream) noexcept;
// The same with the best instruction set, streaming from stream_bytes on unless in and out overlap.
void applyBatch(const PGL4& m, const HomVec4* in, HomVec4* out, std::size_t n) noexcept;

// out[i] = fsDistance(positions[i], reference) for i < n. Positions are read a block ahead of the
// distances written, so `out` must not overlap `positions` here.
void fsDistanceBatch(Isa isa, const HomVec4* positions, HomVec4 reference, double* out,
                     std::size_t n) noexcept;
// The same with the best instruction set; overlapping sequences fall back to the plain loop.
void fsDistanceBatch(const HomVec4* positions, HomVec4 reference, double* out,
                     std::size_t n) noexcept;

// PGL4::inverse.
PGL4 inverse(Isa isa, const PGL4& m, double delta, std::uint32_t max_iter) noexcept;
// The same with the best instruction set.
PGL4 inverse(const PGL4& m, double delta, std::uint32_t max_iter) noexcept;

}  // namespace orv::detail
