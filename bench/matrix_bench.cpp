// 4×4 products and the Newton–Schulz inverse beside Eigen and GLM.
#include <Eigen/Core>
#include <Eigen/LU>
#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

#include <cstdint>
#include <cstring>
#include <string>

#include "bench_util.hpp"

namespace orv::bench {
namespace {

Eigen::Matrix4d toEigen(const PGL4& m) { return Eigen::Map<const Eigen::Matrix4d>(m.data.data()); }

glm::dmat4 toGlm(const PGL4& m) {
  glm::dmat4 g;
  std::memcpy(&g[0][0], m.data.data(), sizeof m.data);  // both column-major
  return g;
}

PGL4 fromEigen(const Eigen::Matrix4d& m) {
  PGL4 p;
  std::memcpy(p.data.data(), m.data(), sizeof p.data);
  return p;
}

// ------------------------------------------------------------------------------------------------
// Products

// The definition, written out: element (r, c) = Σ_k a(r,k)·b(k,c), summed from 0 in k order.
__attribute__((noinline)) PGL4 scalarMul(const PGL4& a, const PGL4& b) {
  PGL4 result;
  for (unsigned c = 0; c < 4; ++c) {
    for (unsigned r = 0; r < 4; ++r) {
      double sum = 0.0;
      for (unsigned k = 0; k < 4; ++k)
        sum += a.data[k * 4 + r] * b.data[c * 4 + k];
      result.data[c * 4 + r] = sum;
    }
  }
  return result;
}

template <class M, class Fn>
void runMul(benchmark::State& state, M a, M b, Fn&& fn) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    M r = fn(a, b);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void registerMul() {
  const PGL4 a = randomMatrix(3);
  const PGL4 b = randomMatrix(5);
  const PGL4 expected = PGL4::mul(a, b);
  benchmark::RegisterBenchmark("PGL4Mul/ORV", [=](benchmark::State& s) {
    runMul(s, a, b, [](const PGL4& x, const PGL4& y) { return PGL4::mul(x, y); });
  });
  benchmark::RegisterBenchmark("PGL4Mul/Scalar", [=](benchmark::State& s) {
    s.counters["bit_identical"] = identical(sameBits(scalarMul(a, b), expected));
    runMul(s, a, b, [](const PGL4& x, const PGL4& y) { return scalarMul(x, y); });
  });
  benchmark::RegisterBenchmark("PGL4Mul/Eigen", [=](benchmark::State& s) {
    const Eigen::Matrix4d ea = toEigen(a);
    const Eigen::Matrix4d eb = toEigen(b);
    s.counters["bit_identical"] = identical(sameBits(fromEigen(ea * eb), expected));
    runMul(s, ea, eb, [](const Eigen::Matrix4d& x, const Eigen::Matrix4d& y) {
      return Eigen::Matrix4d(x * y);
    });
  });
  benchmark::RegisterBenchmark("PGL4Mul/GLM", [=](benchmark::State& s) {
    const glm::dmat4 ga = toGlm(a);
    const glm::dmat4 gb = toGlm(b);
    PGL4 r;
    const glm::dmat4 gr = ga * gb;
    std::memcpy(r.data.data(), &gr[0][0], sizeof r.data);
    s.counters["bit_identical"] = identical(sameBits(r, expected));
    runMul(s, ga, gb, [](const glm::dmat4& x, const glm::dmat4& y) { return x * y; });
  });
}

// ------------------------------------------------------------------------------------------------
// Inverse

// ORV's Newton–Schulz iteration with Eigen's fixed-size products and element-wise operations. Like
// ORV it takes each step's m_reg·x from the previous step's residual product (the same values), so
// both do two products per step and the comparison is one of products.
Eigen::Matrix4d eigenNewtonSchulz(const Eigen::Matrix4d& a, double delta, std::uint32_t max_iter) {
  const Eigen::Matrix4d I4 = Eigen::Matrix4d::Identity();
  Eigen::Matrix4d m_reg = a;
  for (int i = 0; i < 4; ++i)
    m_reg(i, i) += delta;
  double norm_sq = 0.0;
  for (int i = 0; i < 16; ++i)
    norm_sq += m_reg.data()[i] * m_reg.data()[i];
  Eigen::Matrix4d x = m_reg.transpose() / norm_sq;
  if (max_iter == 0) return x;
  Eigen::Matrix4d mx = m_reg * x;
  for (std::uint32_t k = 0; k < max_iter; ++k) {
    const Eigen::Matrix4d two_i_minus_mx = 2.0 * I4 - mx;
    const Eigen::Matrix4d next = x * two_i_minus_mx;
    x = next;
    mx.noalias() = m_reg * x;  // residual_check
    const double residual = (mx - I4).cwiseAbs().maxCoeff<Eigen::PropagateNumbers>();
    if (residual < 1e-12) break;
  }
  return x;
}

struct InverseCase {
  const char* name;
  PGL4 m;
  double delta;
  std::uint32_t max_iter;
};

void registerInverse(const InverseCase& c) {
  std::string prefix("PGL4Inverse/");
  prefix.append(c.name).append(1, '/');
  benchmark::RegisterBenchmark((prefix + "ORV").c_str(), [c](benchmark::State& s) {
    PGL4 m = c.m;
    for (auto _ : s) {
      benchmark::DoNotOptimize(m);
      PGL4 r = m.inverse(c.delta, c.max_iter);
      benchmark::DoNotOptimize(r);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
  benchmark::RegisterBenchmark((prefix + "EigenNewtonSchulz").c_str(), [c](benchmark::State& s) {
    Eigen::Matrix4d m = toEigen(c.m);
    s.counters["bit_identical"] = identical(sameBits(
        fromEigen(eigenNewtonSchulz(m, c.delta, c.max_iter)), c.m.inverse(c.delta, c.max_iter)));
    for (auto _ : s) {
      benchmark::DoNotOptimize(m);
      Eigen::Matrix4d r = eigenNewtonSchulz(m, c.delta, c.max_iter);
      benchmark::DoNotOptimize(r);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
  // Closed-form inverses, for scale; they do not compute ORV's function.
  benchmark::RegisterBenchmark((prefix + "EigenClosedForm").c_str(), [c](benchmark::State& s) {
    Eigen::Matrix4d m = toEigen(c.m);
    for (auto _ : s) {
      benchmark::DoNotOptimize(m);
      Eigen::Matrix4d r = m.inverse();
      benchmark::DoNotOptimize(r);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
  benchmark::RegisterBenchmark((prefix + "GLMClosedForm").c_str(), [c](benchmark::State& s) {
    glm::dmat4 m = toGlm(c.m);
    for (auto _ : s) {
      benchmark::DoNotOptimize(m);
      glm::dmat4 r = glm::inverse(m);
      benchmark::DoNotOptimize(r);
    }
    s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
  });
}

}  // namespace

void registerMatrixBenchmarks() {
  registerMul();
  registerInverse({"Scale234", pglScale(2.0, 3.0, 4.0), 1e-10, 15});
  registerInverse({"Translate", pglTranslate(10.0, 20.0, 30.0), 0.0, 100});
}

}  // namespace orv::bench
