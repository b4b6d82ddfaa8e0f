// Shared pieces of the benchmarks: aligned buffers, seeded inputs, bit comparison.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <span>
#include <vector>

#include "orv/kernel.hpp"

namespace orv::bench {

// Cache-line aligned storage, so that every implementation sees the same alignment and runs do
// not depend on where malloc happened to put a buffer.
template <class T>
struct LineAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlign{64};

  LineAllocator() = default;
  template <class U>
  explicit LineAllocator(const LineAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlign); }

  friend bool operator==(LineAllocator, LineAllocator) noexcept { return true; }
};

template <class T>
using Buffer = std::vector<T, LineAllocator<T>>;

// n values starting `offset` bytes (a multiple of alignof(T)) after a cache-line boundary: the
// places a std::vector's elements can start at (16-byte steps for the 32-byte HomVec4).
template <class T>
class OffsetBuffer {
 public:
  OffsetBuffer(std::size_t n, std::size_t offset)
      : storage_(n + (offset + sizeof(T) - 1) / sizeof(T)),
        values_(reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(storage_.data()) + offset),
                n) {}
  OffsetBuffer(const OffsetBuffer&) = delete;
  OffsetBuffer& operator=(const OffsetBuffer&) = delete;

  std::span<T> span() const { return values_; }
  T* data() const { return values_.data(); }
  std::size_t size() const { return values_.size(); }

 private:
  Buffer<T> storage_;
  std::span<T> values_;
};

// Points with coordinates uniform in [-1, 1): their cosine ratios spread over [0, 1], so that the
// arc cosine takes all of its paths.
inline void fillRandomPoints(std::span<HomVec4> points, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (HomVec4& p : points)
    p = HomVec4::init(u(gen), u(gen), u(gen), u(gen));
}

// A seeded matrix with every element non-zero and a dominant diagonal.
inline PGL4 randomMatrix(std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(0.125, 1.0);
  PGL4 m;
  for (unsigned i = 0; i < 16; ++i)
    m.data[i] = (i % 2 == 0 ? u(gen) : -u(gen)) + (i % 5 == 0 ? 4.0 : 0.0);
  return m;
}

// A digest of the bytes of a result (FNV-1a over 64-bit words), to tell whether two runs
// produced the same bits without keeping both results.
template <class T>
std::uint64_t digest(std::span<const T> values) {
  static_assert(sizeof(T) % sizeof(std::uint64_t) == 0);
  std::uint64_t h = 0xcbf29ce484222325u;
  const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
  for (std::size_t i = 0; i < values.size() * sizeof(T); i += sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    h = (h ^ word) * 0x100000001b3u;
  }
  return h;
}

inline bool sameBits(const PGL4& a, const PGL4& b) {
  return std::memcmp(a.data.data(), b.data.data(), sizeof a.data) == 0;
}

// Counter that says whether a reference produced ORV's results bit for bit.
inline benchmark::Counter identical(bool same) { return benchmark::Counter(same ? 1.0 : 0.0); }

// Items, and the bytes they move, per second of CPU time.
inline void setThroughput(benchmark::State& state, std::size_t n, std::size_t bytes_per_item) {
  const auto items = static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n);
  state.SetItemsProcessed(items);
  state.SetBytesProcessed(items * static_cast<std::int64_t>(bytes_per_item));
}

// Registration of each group; bench_main.cpp calls them in this order.
void registerBatchBenchmarks();
void registerMatrixBenchmarks();
void registerCameraBenchmarks();
// consumer_products.cpp, built with a consumer's flags: -O2, -O3, and both with -march=x86-64-v2
// and with -march=x86-64-v3 (registered where the CPU has AVX2 and FMA).
void registerConsumerO2();
void registerConsumerO3();
void registerConsumerO2v2();
void registerConsumerO3v2();
void registerConsumerO2v3();
void registerConsumerO3v3();

// The arithmetic floor of n points' 4×4 actions (floor.cpp): their 16·n multiplications and 16·n
// additions at vector width `bits` (128, 256 or 512), where arithmeticFloorRuns says the CPU has
// it. seed[0..13] start the chains and seed[14] is the factor and increment (pass 1.0); writes
// 112 doubles to `sink`.
inline constexpr std::size_t kFloorSeeds = 15;
inline constexpr std::size_t kFloorSink = 112;
bool arithmeticFloorRuns(unsigned bits);
void arithmeticFloor(unsigned bits, std::size_t n, const double* seed, double* sink);

}  // namespace orv::bench
