// The CPU batches beside their references: a plain loop in the stated order, Eigen, GLM, a copy of
// the same bytes, the arithmetic floor and ORV's batch on each of its vector paths (PGL action); a
// bare arc-cosine loop over the same cosines and the plain loop (Fubini–Study distance).
#include <emmintrin.h>
#include <Eigen/Core>
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>

#include "bench_util.hpp"
#include "fast_paths.hpp"
#include "orv/gpu.hpp"

namespace orv::bench {
namespace {

// 16 and 64 points are typical per-object vertex counts, where a fixed cost per call shows.
constexpr std::size_t kSizes[] = {16, 64, 1000, 100000, 10000000};
// Where a std::vector<HomVec4> may start relative to a cache line (64-byte aligned sizes only).
constexpr std::size_t kOffsets[] = {16, 32, 48};
constexpr std::size_t kOffsetSizes[] = {1000, 100000};
constexpr std::size_t kActionBytes = 2 * sizeof(HomVec4);                 // 32 B in, 32 B out
constexpr std::size_t kDistanceBytes = sizeof(HomVec4) + sizeof(double);  // 32 B in, 8 B out

std::string benchName(const std::string& prefix, std::size_t n) {
  return prefix + "/" + std::to_string(n);
}

// "<group>/ORVOffset<offset>": ORV's batch on buffers that start `offset` bytes into a line.
std::string offsetName(const char* group, std::size_t offset) {
  return std::string(group) + "/ORVOffset" + std::to_string(offset);
}

// ------------------------------------------------------------------------------------------------
// PGL action batch

// The definition, written out: row r = (((0 + m(r,0)·x) + m(r,1)·y) + m(r,2)·z) + m(r,3)·w.
__attribute__((noinline)) void scalarAction(const PGL4& m, std::span<const HomVec4> in,
                                            std::span<HomVec4> out) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const double v[4] = {in[i].x, in[i].y, in[i].z, in[i].w};
    double r[4];
    for (unsigned row = 0; row < 4; ++row) {
      double sum = 0.0;
      for (unsigned c = 0; c < 4; ++c)
        sum += m.data[c * 4 + row] * v[c];
      r[row] = sum;
    }
    out[i] = HomVec4::init(r[0], r[1], r[2], r[3]);
  }
}

__attribute__((noinline)) void eigenAction(const Eigen::Matrix4d& m, std::span<const HomVec4> in,
                                           std::span<HomVec4> out) {
  const auto n = static_cast<Eigen::Index>(in.size());
  const Eigen::Map<const Eigen::Matrix<double, 4, Eigen::Dynamic>> src(&in.data()->x, 4, n);
  Eigen::Map<Eigen::Matrix<double, 4, Eigen::Dynamic>> dst(&out.data()->x, 4, n);
  dst.noalias() = m * src;
}

__attribute__((noinline)) void glmAction(const glm::dmat4& m, std::span<const HomVec4> in,
                                         std::span<HomVec4> out) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const glm::dvec4 r = m * glm::dvec4(in[i].x, in[i].y, in[i].z, in[i].w);
    out[i] = HomVec4::init(r.x, r.y, r.z, r.w);
  }
}

// Copies with non-temporal stores, which write whole lines without reading them first.
__attribute__((noinline)) void streamCopy(std::span<const HomVec4> in, std::span<HomVec4> out) {
  const auto* src = reinterpret_cast<const double*>(in.data());
  auto* dst = reinterpret_cast<double*>(out.data());
  for (std::size_t i = 0; i < 4 * in.size(); i += 4) {
    const __m128d a = _mm_load_pd(src + i);
    const __m128d b = _mm_load_pd(src + i + 2);
    _mm_stream_pd(dst + i, a);
    _mm_stream_pd(dst + i + 2, b);
  }
  _mm_sfence();
}

// Input and output start `offset` bytes after a cache-line boundary.
struct ActionData {
  PGL4 m;
  OffsetBuffer<HomVec4> in_buffer;
  OffsetBuffer<HomVec4> out_buffer;
  std::span<HomVec4> in;
  std::span<HomVec4> out;
  std::uint64_t expected = 0;  // digest of ORV's result

  explicit ActionData(std::size_t n, std::size_t offset = 0)
      : m(randomMatrix(7)),
        in_buffer(n, offset),
        out_buffer(n, offset),
        in(in_buffer.span()),
        out(out_buffer.span()) {
    fillRandomPoints(in, 11);
    cpuPGLActionBatch(m, in, out);
    expected = digest<HomVec4>(out);
  }
  bool matches() const { return digest<HomVec4>(out) == expected; }
};

// Times `fn`, which writes `out`, and reports the throughput of `items` items.
template <class Fn>
void timeBatch(benchmark::State& state, const void* out, std::size_t items,
               std::size_t bytes_per_item, Fn&& fn) {
  for (auto _ : state) {
    fn();
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  setThroughput(state, items, bytes_per_item);
}

// The same, after one call that records whether `fn` reproduces ORV's result bit for bit.
template <class Data, class Fn>
void timeChecked(benchmark::State& state, Data& d, std::size_t items, std::size_t bytes_per_item,
                 Fn&& fn) {
  fn();
  state.counters["bit_identical"] = identical(d.matches());
  timeBatch(state, d.out.data(), items, bytes_per_item, fn);
}

template <class Fn>
void runAction(benchmark::State& state, ActionData& d, Fn&& fn) {
  timeChecked(state, d, d.in.size(), kActionBytes, fn);
}

template <class Fn>
void runCopy(benchmark::State& state, ActionData& d, Fn&& fn) {
  timeBatch(state, d.out.data(), d.in.size(), kActionBytes, fn);
}

// Registers `prefix`/n, whose body gets the group's data for n points at `offset` bytes into a
// line.
template <class Data, class Body>
void registerWithData(const std::string& prefix, std::size_t n, Body body, std::size_t offset = 0) {
  benchmark::RegisterBenchmark(benchName(prefix, n).c_str(),
                               [n, offset, body](benchmark::State& s) {
                                 Data d(n, offset);
                                 body(s, d);
                               });
}

// ORV's batch of the group at every offset, for the sizes that have offset rows.
template <class Data, class Body>
void registerOffsets(const char* group, std::size_t n, Body body) {
  if (std::find(std::begin(kOffsetSizes), std::end(kOffsetSizes), n) == std::end(kOffsetSizes))
    return;
  for (const std::size_t offset : kOffsets)
    registerWithData<Data>(offsetName(group, offset), n, body, offset);
}

// The arithmetic floor at each vector width the CPU has (floor.cpp), and ORV's batch on each of
// its vector paths that the CPU runs, whichever of them the dispatcher picks.
void registerActionFloorAndPaths(std::size_t n) {
  for (const unsigned bits : {128u, 256u, 512u}) {
    if (!arithmeticFloorRuns(bits)) continue;
    const std::string name = "PGLActionBatch/Floor" + std::to_string(bits);
    benchmark::RegisterBenchmark(benchName(name, n).c_str(), [n, bits](benchmark::State& s) {
      double seed[kFloorSeeds];
      std::fill(std::begin(seed), std::end(seed), 1.0);
      double sink[kFloorSink];
      for (auto _ : s) {
        arithmeticFloor(bits, n, seed, sink);
        benchmark::DoNotOptimize(sink);
      }
      setThroughput(s, n, kActionBytes);
    });
  }
  for (const detail::Isa isa : {detail::Isa::sse2, detail::Isa::avx2, detail::Isa::avx512}) {
    if (!detail::isaSupported(isa)) continue;
    const std::string name = std::string("PGLActionBatch/ORVPath") + detail::isaName(isa);
    registerWithData<ActionData>(name, n, [isa](benchmark::State& s, ActionData& d) {
      runAction(s, d, [&] {
        detail::applyBatch(isa, d.m, d.in.data(), d.out.data(), d.in.size(), false);
      });
    });
  }
}

void registerAction(std::size_t n) {
  using D = ActionData;
  const auto orv = [](benchmark::State& s, D& d) {
    runAction(s, d, [&] { cpuPGLActionBatch(d.m, d.in, d.out); });
  };
  registerWithData<D>("PGLActionBatch/ORV", n, orv);
  registerOffsets<D>("PGLActionBatch", n, orv);
  registerWithData<D>("PGLActionBatch/Scalar", n, [](benchmark::State& s, D& d) {
    runAction(s, d, [&] { scalarAction(d.m, d.in, d.out); });
  });
  registerWithData<D>("PGLActionBatch/Eigen", n, [](benchmark::State& s, D& d) {
    const Eigen::Matrix4d em = Eigen::Map<const Eigen::Matrix4d>(d.m.data.data());
    runAction(s, d, [&] { eigenAction(em, d.in, d.out); });
  });
  registerWithData<D>("PGLActionBatch/GLM", n, [](benchmark::State& s, D& d) {
    glm::dmat4 gm;
    std::memcpy(&gm[0][0], d.m.data.data(), sizeof d.m.data);  // both column-major
    runAction(s, d, [&] { glmAction(gm, d.in, d.out); });
  });
  // The memory ceiling: the same 32 bytes read and 32 bytes written per point, by memcpy and by a
  // loop of streaming stores; the ratio table takes the faster.
  registerWithData<D>("PGLActionBatch/Copy", n, [](benchmark::State& s, D& d) {
    runCopy(s, d, [&] { std::memcpy(d.out.data(), d.in.data(), d.in.size() * sizeof(HomVec4)); });
  });
  registerWithData<D>("PGLActionBatch/StreamCopy", n, [](benchmark::State& s, D& d) {
    runCopy(s, d, [&] { streamCopy(d.in, d.out); });
  });
  if (n >= 1000 && n <= 100000) registerActionFloorAndPaths(n);
}

// ------------------------------------------------------------------------------------------------
// Fubini–Study distance batch

__attribute__((noinline)) void scalarDistance(std::span<const HomVec4> positions, HomVec4 reference,
                                              std::span<double> out) {
  for (std::size_t i = 0; i < positions.size(); ++i)
    out[i] = fsDistance(positions[i], reference);
}

__attribute__((noinline)) void bareAcos(std::span<const double> cosines, std::span<double> out) {
  for (std::size_t i = 0; i < cosines.size(); ++i)
    out[i] = std::acos(cosines[i]);
}

// Positions start `offset` bytes after a cache-line boundary.
struct DistanceData {
  HomVec4 reference;
  OffsetBuffer<HomVec4> position_buffer;
  std::span<HomVec4> positions;
  Buffer<double> cosines;  // the capped ratio whose arc cosine fsDistance returns
  Buffer<double> out;
  std::uint64_t expected = 0;

  explicit DistanceData(std::size_t n, std::size_t offset = 0)
      : reference(HomVec4::init(0.25, -0.5, 0.75, 0.375)),
        position_buffer(n, offset),
        positions(position_buffer.span()),
        cosines(n),
        out(n) {
    fillRandomPoints(positions, 13);
    cpuFSDistanceBatch(positions, reference, out);
    expected = digest<double>(out);
    const double nb = reference.norm();
    for (std::size_t i = 0; i < n; ++i) {
      const double ratio =
          std::abs(HomVec4::dot(positions[i], reference)) / (positions[i].norm() * nb);
      cosines[i] = ratio < 1.0 ? ratio : 1.0;
    }
  }
  bool matches() const { return digest<double>(out) == expected; }
};

template <class Fn>
void runDistance(benchmark::State& state, DistanceData& d, Fn&& fn) {
  timeChecked(state, d, d.positions.size(), kDistanceBytes, fn);
}

void registerDistance(std::size_t n) {
  using D = DistanceData;
  const auto orv = [](benchmark::State& s, D& d) {
    runDistance(s, d, [&] { cpuFSDistanceBatch(d.positions, d.reference, d.out); });
  };
  registerWithData<D>("FSDistanceBatch/ORV", n, orv);
  registerOffsets<D>("FSDistanceBatch", n, orv);
  registerWithData<D>("FSDistanceBatch/Scalar", n, [](benchmark::State& s, D& d) {
    runDistance(s, d, [&] { scalarDistance(d.positions, d.reference, d.out); });
  });
  registerWithData<D>("FSDistanceBatch/Acos", n, [](benchmark::State& s, D& d) {
    runDistance(s, d, [&] { bareAcos(d.cosines, d.out); });
  });
}

}  // namespace

void registerBatchBenchmarks() {
  for (const std::size_t n : kSizes)
    registerAction(n);
  for (const std::size_t n : kSizes)
    registerDistance(n);
}

}  // namespace orv::bench
