// PGL4::mul and PGL4::apply as a program that includes ORV's installed header compiles them,
// beside Eigen's fixed-size 4×4 products compiled with the same flags.
//
// The build compiles this file once per set of consumer flags (the -O level, with or without a
// -march), each copy into a shared library of its own whose symbols are hidden: every build keeps
// its own instances of the header's inline functions and of Eigen's templates, which a single
// executable would otherwise merge into one copy compiled with whichever flags came first.
// ORV_CONSUMER_LABEL names the flags in the benchmark names; ORV_CONSUMER_REGISTER is the one
// function the library exports.
#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "orv/kernel.hpp"

namespace orv::bench {
namespace {

constexpr std::size_t kProducts = 64;  // independent products per timed call

template <class T>
using Batch = std::array<T, kProducts>;

// Seeded values in [-1, 1), the same for every build.
class Seeded {
 public:
  explicit Seeded(std::uint64_t seed) : gen_(seed) {}
  double next() { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen_); }

 private:
  std::mt19937_64 gen_;
};

// The operands of one build's products, as ORV values and as Eigen values with the same elements.
struct Operands {
  Batch<PGL4> a{}, b{}, product{};
  Batch<HomVec4> points{}, images{};
  alignas(64) Batch<Eigen::Matrix4d> ea, eb, eproduct;
  alignas(64) Batch<Eigen::Vector4d> epoints, eimages;

  Operands() {
    Seeded values(17);
    for (std::size_t i = 0; i < kProducts; ++i) {
      for (double& e : a[i].data)
        e = values.next();
      for (double& e : b[i].data)
        e = values.next();
      const double x = values.next();  // one by one: the order of arguments is unspecified
      const double y = values.next();
      const double z = values.next();
      const double w = values.next();
      points[i] = HomVec4::init(x, y, z, w);
      ea[i] = Eigen::Map<const Eigen::Matrix4d>(a[i].data.data());
      eb[i] = Eigen::Map<const Eigen::Matrix4d>(b[i].data.data());
      epoints[i] = Eigen::Vector4d(points[i].x, points[i].y, points[i].z, points[i].w);
    }
  }
};

__attribute__((noinline)) void orvMul(const Batch<PGL4>& a, const Batch<PGL4>& b,
                                      Batch<PGL4>& out) {
  for (std::size_t i = 0; i < kProducts; ++i)
    out[i] = PGL4::mul(a[i], b[i]);
}

__attribute__((noinline)) void eigenMul(const Batch<Eigen::Matrix4d>& a,
                                        const Batch<Eigen::Matrix4d>& b,
                                        Batch<Eigen::Matrix4d>& out) {
  for (std::size_t i = 0; i < kProducts; ++i)
    out[i].noalias() = a[i] * b[i];
}

// One matrix, taken by value as a caller's local would be, applied to every point.
__attribute__((noinline)) void orvApply(PGL4 m, const Batch<HomVec4>& points, Batch<HomVec4>& out) {
  for (std::size_t i = 0; i < kProducts; ++i)
    out[i] = m.apply(points[i]);
}

__attribute__((noinline)) void eigenApply(Eigen::Matrix4d m, const Batch<Eigen::Vector4d>& points,
                                          Batch<Eigen::Vector4d>& out) {
  for (std::size_t i = 0; i < kProducts; ++i)
    out[i].noalias() = m * points[i];
}

// Whether Eigen's products have ORV's bits (they sum without ORV's leading 0 +, so they differ
// exactly where every product of a sum is −0).
template <class T, class U>
bool sameBits(const Batch<T>& orv, const Batch<U>& eigen) {
  for (std::size_t i = 0; i < kProducts; ++i) {
    if (std::memcmp(&orv[i], eigen[i].data(), sizeof orv[i]) != 0) return false;
  }
  return true;
}

template <class Fn>
void run(benchmark::State& state, Operands& d, bool identical, Fn&& fn) {
  state.counters["bit_identical"] = benchmark::Counter(identical ? 1.0 : 0.0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(&d);
    fn();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kProducts));
}

std::string name(const char* op, const char* impl) {
  return std::string("Consumer") + ORV_CONSUMER_LABEL + "/" + op + "/" + impl;
}

}  // namespace

[[gnu::visibility("default")]] void ORV_CONSUMER_REGISTER() {
  benchmark::RegisterBenchmark(name("mul", "ORV").c_str(), [](benchmark::State& s) {
    Operands d;
    run(s, d, true, [&] { orvMul(d.a, d.b, d.product); });
  });
  benchmark::RegisterBenchmark(name("mul", "Eigen").c_str(), [](benchmark::State& s) {
    Operands d;
    orvMul(d.a, d.b, d.product);
    eigenMul(d.ea, d.eb, d.eproduct);
    run(s, d, sameBits(d.product, d.eproduct), [&] { eigenMul(d.ea, d.eb, d.eproduct); });
  });
  benchmark::RegisterBenchmark(name("apply", "ORV").c_str(), [](benchmark::State& s) {
    Operands d;
    run(s, d, true, [&] { orvApply(d.a[0], d.points, d.images); });
  });
  benchmark::RegisterBenchmark(name("apply", "Eigen").c_str(), [](benchmark::State& s) {
    Operands d;
    orvApply(d.a[0], d.points, d.images);
    eigenApply(d.ea[0], d.epoints, d.eimages);
    run(s, d, sameBits(d.images, d.eimages), [&] { eigenApply(d.ea[0], d.epoints, d.eimages); });
  });
}

}  // namespace orv::bench
