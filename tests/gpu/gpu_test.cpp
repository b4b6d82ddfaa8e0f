#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "gpu_checks.hpp"
#include "orv/gpu.hpp"

namespace orv {
namespace {

constexpr float kFltMax = std::numeric_limits<float>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The floats of `records` as a device buffer would hold them.
template <class T>
std::vector<float> bufferImage(const std::vector<T>& records) {
  std::vector<float> out(records.size() * sizeof(T) / sizeof(float));
  std::memcpy(out.data(), records.data(), records.size() * sizeof(T));
  return out;
}

// ---------------------------------------------------------------------------------------------
// Records

TEST(GpuRecords, ArraysOfRecordsAreTheDeviceBufferImage) {
  EXPECT_EQ(bufferImage(std::vector<GpuHomVec4>{{1, 2, 3, 4}, {5, 6, 7, 8}}),
            (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(bufferImage(std::vector<GpuGeodesicState>{{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10}}),
            (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bufferImage(std::vector<RK4Params>{{0.5f}}), (std::vector<float>{0.5f, 0, 0, 0}));
  GpuPGL4 m;
  for (std::size_t i = 0; i < 16; ++i)
    m.data[i] = static_cast<float>(i);
  const std::vector<float> image = bufferImage(std::vector<GpuPGL4>{m});
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_EQ(image[i], static_cast<float>(i));
}

TEST(GpuRecords, DefaultsAreZero) {
  EXPECT_EQ(bufferImage(std::vector<GpuGeodesicState>(1)), std::vector<float>(8, 0.0f));
  EXPECT_EQ(bufferImage(std::vector<GpuPGL4>(1)), std::vector<float>(16, 0.0f));
}

// ---------------------------------------------------------------------------------------------
// Conversions

TEST(GpuConversion, RoundsToNearestAndOverflowsToInfinity) {
  // FLT_MAX + 2¹⁰³ lies halfway between FLT_MAX = 2¹²⁸ − 2¹⁰⁴ and 2¹²⁸; the tie goes to the
  // even neighbour, 2¹²⁸, which is out of range: +∞. Anything below it rounds to FLT_MAX.
  const double overflow_tie = static_cast<double>(kFltMax) + 0x1.0p103;
  const struct {
    const char* name;
    double in;
    float out;
  } cases[] = {
      {"exact", 1.5, 1.5f},
      {"one tenth rounds to nearest", 0.1, std::bit_cast<float>(0x3DCCCCCDu)},
      {"tie to even, down", 1.0 + 0x1.0p-24, 1.0f},
      {"tie to even, up", 1.0 + 3 * 0x1.0p-24, 1.0f + 0x1.0p-22f},
      {"f32 max", static_cast<double>(kFltMax), kFltMax},
      {"just below the overflow tie", std::nextafter(overflow_tie, 0.0), kFltMax},
      {"overflow tie", overflow_tie, std::numeric_limits<float>::infinity()},
      {"beyond f32 range", 1e39, std::numeric_limits<float>::infinity()},
      {"beyond f32 range, negative", -1e300, -std::numeric_limits<float>::infinity()},
      {"infinity", -kInf, -std::numeric_limits<float>::infinity()},
      {"underflow keeps the sign", -1e-50, -0.0f},
      {"subnormal", 0x1.0p-140, 0x1.0p-140f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const GpuHomVec4 g = homVec4ToGpu(HomVec4::init(c.in, -c.in, 0.0, 1.0));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(g.x), std::bit_cast<std::uint32_t>(c.out));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(g.y), std::bit_cast<std::uint32_t>(-c.out));
  }
}

TEST(GpuConversion, OneTenthDiffersFromItsSourceWithinHalfAnUlp) {
  const float g = homVec4ToGpu(HomVec4::init(0.1, 0, 0, 0)).x;
  EXPECT_NE(static_cast<double>(g), 0.1);
  // Round to nearest: the error is at most half the spacing of f32 around 0.1 (2⁻²⁷).
  EXPECT_LE(std::abs(static_cast<double>(g) - 0.1), 0x1.0p-28);
}

TEST(GpuConversion, NaNStaysNaNInEveryComponent) {
  const GpuHomVec4 g = homVec4ToGpu(HomVec4::init(kNaN, 1.0, kNaN, kNaN));
  EXPECT_TRUE(std::isnan(g.x) && std::isnan(g.z) && std::isnan(g.w));
  EXPECT_EQ(g.y, 1.0f);
  PGL4 m = PGL4::identity();
  m.data[7] = kNaN;
  EXPECT_TRUE(std::isnan(pgl4ToGpu(m).data[7]));
}

TEST(GpuConversion, HomVec4IsNeitherNormalisedNorDehomogenised) {
  const GpuHomVec4 g = homVec4ToGpu(HomVec4::init(2, 4, 6, 2));
  EXPECT_EQ(bufferImage(std::vector<GpuHomVec4>{g}), (std::vector<float>{2, 4, 6, 2}));
}

TEST(GpuConversion, PGL4KeepsStorageOrder) {
  static_assert(pgl4ToGpu(pglTranslate(1, 2, 3)).data[12] == 1.0f);
  const GpuPGL4 t = pgl4ToGpu(pglTranslate(1, 2, 3));
  EXPECT_EQ(t.data[12], 1.0f);
  EXPECT_EQ(t.data[13], 2.0f);
  EXPECT_EQ(t.data[14], 3.0f);
  EXPECT_EQ(t.data[3], 0.0f);  // not in row 3
  PGL4 m;
  for (std::size_t i = 0; i < 16; ++i)
    m.data[i] = static_cast<double>(i) + 0.25;
  const GpuPGL4 g = pgl4ToGpu(m);
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_EQ(g.data[i], static_cast<float>(i) + 0.25f) << i;
  // No determinant normalisation.
  EXPECT_EQ(pgl4ToGpu(pglScale(2, 3, 4)).data[10], 4.0f);
}

TEST(GpuConversion, BatchConvertsTheShorterLength) {
  const std::array points{HomVec4::init(1, 0, 0, 1), HomVec4::init(0, 1, 0, 1),
                          HomVec4::init(0, 0, 1, 1)};
  const GpuHomVec4 sentinel{-7, -7, -7, -7};
  const struct {
    const char* name;
    std::size_t points;
    std::size_t outputs;
    std::size_t converted;
  } cases[] = {
      {"equal", 3, 3, 3},     {"short output", 3, 2, 2}, {"long output", 2, 3, 2},
      {"no points", 0, 3, 0}, {"no output", 3, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<GpuHomVec4> out(c.outputs, sentinel);
    batchToGpu(std::span(points).first(c.points), out);
    for (std::size_t i = 0; i < c.outputs; ++i) {
      const GpuHomVec4 want = i < c.converted ? homVec4ToGpu(points[i]) : sentinel;
      EXPECT_EQ(bufferImage(std::vector{out[i]}), bufferImage(std::vector{want})) << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// CPU reference batches

TEST(CpuFSDistanceBatch, MatchesFsDistanceElementByElement) {
  constexpr double half_pi = std::numbers::pi / 2;
  const std::array positions{HomVec4::init(1, 0, 0, 0), HomVec4::init(0, 1, 0, 0),
                             HomVec4::init(0, 0, 1, 0), HomVec4::init(1e-16, 0, 0, 0),
                             HomVec4::init(0, 0, 0, 0), HomVec4::init(1, 0, 0, 1)};
  const struct {
    const char* name;
    HomVec4 reference;
    std::array<double, 6> distances;
  } cases[] = {
      {"x axis", HomVec4::init(1, 0, 0, 0), {0, half_pi, half_pi, 0, 0, half_pi / 2}},
      {"antipode of the x axis",
       HomVec4::init(-1, 0, 0, 0),
       {0, half_pi, half_pi, 0, 0, half_pi / 2}},
      {"zero reference", HomVec4::init(0, 0, 0, 0), {0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<double, 6> out{};
    cpuFSDistanceBatch(positions, c.reference, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_NEAR(out[i], c.distances[i], 1e-15) << i;
      EXPECT_EQ(out[i], fsDistance(positions[i], c.reference)) << i;
    }
  }
}

TEST(CpuFSDistanceBatch, WritesOnlyTheShorterLength) {
  const std::array positions{HomVec4::init(1, 0, 0, 0), HomVec4::init(0, 1, 0, 0),
                             HomVec4::init(0, 0, 1, 0)};
  const HomVec4 reference = HomVec4::init(1, 0, 0, 0);
  std::array<double, 4> out{-1, -1, -1, -1};
  cpuFSDistanceBatch(std::span(positions).first(2), reference, out);
  EXPECT_EQ(out, (std::array<double, 4>{0, std::numbers::pi / 2, -1, -1}));
  out.fill(-1);
  cpuFSDistanceBatch(positions, reference, std::span(out).first(2));
  EXPECT_EQ(out, (std::array<double, 4>{0, std::numbers::pi / 2, -1, -1}));
  cpuFSDistanceBatch({}, reference, out);
  cpuFSDistanceBatch(positions, reference, {});
  EXPECT_EQ(out[2], -1);
}

TEST(CpuPGLActionBatch, AppliesTheMatrixWithoutRescaling) {
  const std::array input{HomVec4::init(0, 0, 0, 1), HomVec4::init(1, 0, 0, 1),
                         HomVec4::init(1, 0, 0, 0), HomVec4::init(2, 4, 6, 2)};
  const struct {
    const char* name;
    PGL4 m;
    std::array<HomVec4, 4> want;
  } cases[] = {
      {"translation; a point at infinity stays",
       pglTranslate(1, 0, 0),
       {HomVec4::init(1, 0, 0, 1), HomVec4::init(2, 0, 0, 1), HomVec4::init(1, 0, 0, 0),
        HomVec4::init(4, 4, 6, 2)}},
      {"identity keeps the representative",
       PGL4::identity(),
       {input[0], input[1], input[2], input[3]}},
      {"column-major: row 3 of (0,0,0,1)ᵀ is m(3,3)",
       PGL4::fromRowMajor({{{1, 0, 0, 5}, {0, 1, 0, 0}, {0, 0, 1, 0}, {7, 0, 0, 3}}}),
       {HomVec4::init(5, 0, 0, 3), HomVec4::init(6, 0, 0, 10), HomVec4::init(1, 0, 0, 7),
        HomVec4::init(12, 4, 6, 20)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<HomVec4, 4> out{};
    cpuPGLActionBatch(c.m, input, out);
    EXPECT_EQ(out, c.want);
  }
}

TEST(CpuPGLActionBatch, InPlaceAndUnequalLengths) {
  const PGL4 m = PGL4::fromRowMajor({{{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 2, 0}, {0, 0, 1, 1}}});
  std::array<HomVec4, 3> points{HomVec4::init(1, 2, 3, 4), HomVec4::init(5, 6, 7, 8),
                                HomVec4::init(9, 9, 9, 9)};
  cpuPGLActionBatch(m, points, points);
  EXPECT_EQ(points[0], m.apply(HomVec4::init(1, 2, 3, 4)));
  EXPECT_EQ(points[1], m.apply(HomVec4::init(5, 6, 7, 8)));

  const HomVec4 untouched = HomVec4::init(-1, -1, -1, -1);
  std::array<HomVec4, 3> out{untouched, untouched, untouched};
  cpuPGLActionBatch(m, std::span(points).first(2), out);
  EXPECT_EQ(out[1], m.apply(points[1]));
  EXPECT_EQ(out[2], untouched);
  out.fill(untouched);
  cpuPGLActionBatch(m, points, std::span(out).first(1));
  EXPECT_EQ(out[1], untouched);
  cpuPGLActionBatch(m, {}, out);
  EXPECT_EQ(out[0], m.apply(points[0]));
}

// ---------------------------------------------------------------------------------------------
// Shader library

constexpr std::array<std::string_view, 8> kTexts{
    wgsl_hom_vec4,          wgsl_pgl4,
    wgsl_geodesic_state,    wgsl_fs_distance_batch,
    wgsl_pgl_action_batch,  wgsl_geodesic_rk4_step,
    wgsl_idempotent_newton, wgsl_dehomogenize_vertex,
};

TEST(ShaderTexts, FollowTheTextConventions) {
  for (const std::string_view text : kTexts) {
    SCOPED_TRACE(text.substr(0, 40));
    EXPECT_EQ(text.data()[text.size()], '\0');  // terminating zero outside the length
    EXPECT_EQ(text.find('\r'), std::string_view::npos);
    EXPECT_EQ(text.find('\t'), std::string_view::npos);
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(text.find("\n\n\n"), std::string_view::npos);
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      const std::string_view line = text.substr(start, end - start);
      if (!line.empty()) {
        EXPECT_EQ(line.find_first_not_of(' ') % 4, 0u) << line;
        EXPECT_NE(line.back(), ' ') << line;
      }
      start = end + 1;
    }
  }
}

TEST(ShaderTexts, DeviceTypesMatchTheHostLayouts) {
  EXPECT_NE(wgsl_pgl4.find("data: mat4x4<f32>,"), std::string_view::npos);
  EXPECT_NE(wgsl_dehomogenize_vertex.find("var<uniform> mvp: mat4x4<f32>;"),
            std::string_view::npos);
  EXPECT_NE(wgsl_dehomogenize_vertex.find("@location(0) position: vec4<f32>,"),
            std::string_view::npos);
  EXPECT_NE(wgsl_dehomogenize_vertex.find("@location(1) normal: vec4<f32>,"),
            std::string_view::npos);
  // No f32 array in the uniform address space: its 4-byte stride breaks the 16-byte rule.
  for (const std::string_view text : kTexts) {
    EXPECT_EQ(text.find("var<uniform> mvp: array"), std::string_view::npos);
    EXPECT_EQ(text.find("data: array<f32"), std::string_view::npos);
  }
}

std::uint32_t workgroupSizeIn(std::string_view text) {
  const std::string_view attribute = "@workgroup_size(";
  const std::size_t at = text.find(attribute);
  if (at == std::string_view::npos || text.find(attribute, at + 1) != std::string_view::npos) {
    return 0;
  }
  return static_cast<std::uint32_t>(std::stoul(std::string(text.substr(at + attribute.size()))));
}

// The name in the `fn <name>(` that follows the text's only `@compute` attribute; empty when there
// is no such function or more than one attribute.
std::string_view computeFunctionIn(std::string_view text) {
  const std::size_t at = text.find("@compute");
  if (at == std::string_view::npos || text.find("@compute", at + 1) != std::string_view::npos) {
    return {};
  }
  const std::size_t fn = text.find("fn ", at);
  if (fn == std::string_view::npos) return {};
  const std::size_t begin = fn + 3;
  const std::size_t end = text.find('(', begin);
  if (end == std::string_view::npos) return {};
  return text.substr(begin, end - begin);
}

TEST(ComputePipelines, ForKindTable) {
  const struct {
    ComputePipelineKind kind;
    std::string_view shader;
    std::string_view entry_point;
    std::uint32_t workgroup_size;
  } cases[] = {
      {ComputePipelineKind::fs_distance_batch, wgsl_fs_distance_batch, "fs_distance_batch", 64},
      {ComputePipelineKind::pgl_action_batch, wgsl_pgl_action_batch, "pgl_action_batch", 64},
      {ComputePipelineKind::geodesic_rk4_step, wgsl_geodesic_rk4_step, "geodesic_rk4_step", 64},
      {ComputePipelineKind::idempotent_newton, wgsl_idempotent_newton, "idempotent_newton_step",
       16},
  };
  const std::array all = allComputePipelines();
  for (std::size_t k = 0; k < 4; ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(c.entry_point);
    const ComputePipelineDesc desc = ComputePipelineDesc::forKind(c.kind);
    EXPECT_EQ(static_cast<std::size_t>(c.kind), k);
    EXPECT_EQ(desc.kind, c.kind);
    EXPECT_EQ(desc.shader.data(), c.shader.data());  // the kernel's own text, not the module
    EXPECT_EQ(desc.shader.size(), c.shader.size());
    EXPECT_EQ(desc.workgroup_size, c.workgroup_size);
    EXPECT_EQ(workgroupSizeIn(desc.shader), desc.workgroup_size);
    EXPECT_EQ(computeEntryPoint(c.kind), c.entry_point);
    EXPECT_EQ(computeFunctionIn(desc.shader), computeEntryPoint(c.kind));
    EXPECT_EQ(all[k].kind, desc.kind);
    EXPECT_EQ(all[k].shader.data(), desc.shader.data());
    EXPECT_EQ(all[k].workgroup_size, desc.workgroup_size);
  }
  EXPECT_EQ(WORKGROUP_SIZE, 64u);
  static_assert(
      ComputePipelineDesc::forKind(ComputePipelineKind::idempotent_newton).workgroup_size == 16);
  static_assert(computeEntryPoint(ComputePipelineKind::idempotent_newton) ==
                "idempotent_newton_step");
}

TEST(ComputePipelines, UnknownKindHasNoPipeline) {
  const auto kind = static_cast<ComputePipelineKind>(4);
  const ComputePipelineDesc desc = ComputePipelineDesc::forKind(kind);
  EXPECT_TRUE(desc.shader.empty());
  EXPECT_EQ(desc.workgroup_size, 0u);
  EXPECT_EQ(desc.kind, kind);
  EXPECT_TRUE(computeEntryPoint(kind).empty());
}

TEST(WgslModule, IsTheSevenTextsJoinedByLineFeeds) {
  constexpr std::string_view m = buildWgslModule();
  static_assert(m.starts_with(wgsl_hom_vec4) && m[wgsl_hom_vec4.size()] == '\n');
  static_assert(m.ends_with(wgsl_idempotent_newton) && m.back() == '}');
  const std::array parts{wgsl_hom_vec4,         wgsl_pgl4,
                         wgsl_geodesic_state,   wgsl_fs_distance_batch,
                         wgsl_pgl_action_batch, wgsl_geodesic_rk4_step,
                         wgsl_idempotent_newton};
  std::size_t at = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE(i);
    if (i != 0) {
      ASSERT_EQ(m[at], '\n');
      ++at;
    }
    ASSERT_EQ(m.substr(at, parts[i].size()), parts[i]);
    at += parts[i].size();
  }
  EXPECT_EQ(at, m.size());
  EXPECT_EQ(m.data()[m.size()], '\0');
  EXPECT_TRUE(m.starts_with("struct HomVec4 {"));
  EXPECT_EQ(buildWgslModule().data(), m.data());  // one constant, not rebuilt per call
}

TEST(WgslModule, HoldsTheComputeEntryPointsButNotTheVertexShader) {
  constexpr std::string_view m = buildWgslModule();
  for (const std::string_view entry :
       {"@compute @workgroup_size(64)\nfn fs_distance_batch(",
        "@compute @workgroup_size(64)\nfn pgl_action_batch(",
        "@compute @workgroup_size(64)\nfn geodesic_rk4_step(",
        "@compute @workgroup_size(16)\nfn idempotent_newton_step("}) {
    EXPECT_NE(m.find(entry), std::string_view::npos) << entry;
  }
  EXPECT_EQ(m.find("dehomogenize_vertex"), std::string_view::npos);
  EXPECT_EQ(m.find("@vertex"), std::string_view::npos);
}

// ---------------------------------------------------------------------------------------------
// Self-checks

TEST(GpuSelfChecks, AllPassInRegistrationOrder) {
  for (const check::TestFn& fn : gpu_checks::checks) {
    SCOPED_TRACE(fn.name);
    EXPECT_TRUE(fn.name.starts_with("orv_gpu.test.GPU: "));
    EXPECT_TRUE(fn.func().ok());
  }
}

}  // namespace
}  // namespace orv
