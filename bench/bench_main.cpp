// orv-bench: ORV's hot paths beside Eigen, GLM and the machine's ceilings, all in one run, followed
// by a table of ratios (ORV ÷ reference) computed from that same run.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.hpp"
#include "fast_paths.hpp"

namespace orv::bench {
namespace {

// One line of the ratio table: ORV's benchmark against a reference of the same group (several
// separated by '|': the fastest of them); `max` is the largest ratio that meets the target (0: no
// target).
struct Ratio {
  const char* group;
  const char* orv;
  const char* reference;
  const char* reference_label;
  double max;
};

// clang-format off
constexpr Ratio kRatios[] = {
    {"PGL action batch, N = 16", "PGLActionBatch/ORV/16", "PGLActionBatch/Scalar/16", "plain loop", 0},
    {"", "PGLActionBatch/ORV/16", "PGLActionBatch/Eigen/16", "Eigen", 0},
    {"PGL action batch, N = 64", "PGLActionBatch/ORV/64", "PGLActionBatch/Scalar/64", "plain loop", 0},
    {"", "PGLActionBatch/ORV/64", "PGLActionBatch/Eigen/64", "Eigen", 0},
    {"PGL action batch, N = 1e3", "PGLActionBatch/ORV/1000", "PGLActionBatch/Scalar/1000", "plain loop", 0},
    {"", "PGLActionBatch/ORV/1000", "PGLActionBatch/Eigen/1000", "Eigen", 1 / 2.5},
    {"", "PGLActionBatch/ORV/1000", "PGLActionBatch/GLM/1000", "GLM", 0},
    {"", "PGLActionBatch/ORV/1000", "PGLActionBatch/Floor128/1000|PGLActionBatch/Floor256/1000|PGLActionBatch/Floor512/1000", "arithmetic floor", 1.15},
    {"  SSE2 path", "PGLActionBatch/ORVPathSSE2/1000", "PGLActionBatch/Floor128/1000|PGLActionBatch/Floor256/1000|PGLActionBatch/Floor512/1000", "arithmetic floor", 0},
    {"  AVX2 path", "PGLActionBatch/ORVPathAVX2/1000", "PGLActionBatch/Floor128/1000|PGLActionBatch/Floor256/1000|PGLActionBatch/Floor512/1000", "arithmetic floor", 1.15},
    {"  AVX-512VL path", "PGLActionBatch/ORVPathAVX-512VL/1000", "PGLActionBatch/Floor128/1000|PGLActionBatch/Floor256/1000|PGLActionBatch/Floor512/1000", "arithmetic floor", 1.15},
    {"", "PGLActionBatch/ORV/1000", "PGLActionBatch/Copy/1000|PGLActionBatch/StreamCopy/1000", "copy", 0},
    {"  buffers at line + 16 B", "PGLActionBatch/ORVOffset16/1000", "PGLActionBatch/ORV/1000", "at line + 0 B", 1.05},
    {"  buffers at line + 32 B", "PGLActionBatch/ORVOffset32/1000", "PGLActionBatch/ORV/1000", "at line + 0 B", 1.05},
    {"  buffers at line + 48 B", "PGLActionBatch/ORVOffset48/1000", "PGLActionBatch/ORV/1000", "at line + 0 B", 1.05},
    {"PGL action batch, N = 1e5", "PGLActionBatch/ORV/100000", "PGLActionBatch/Scalar/100000", "plain loop", 0},
    {"", "PGLActionBatch/ORV/100000", "PGLActionBatch/Eigen/100000", "Eigen", 0},
    {"", "PGLActionBatch/ORV/100000", "PGLActionBatch/GLM/100000", "GLM", 0},
    {"", "PGLActionBatch/ORV/100000", "PGLActionBatch/Floor128/100000|PGLActionBatch/Floor256/100000|PGLActionBatch/Floor512/100000", "arithmetic floor", 0},
    {"", "PGLActionBatch/ORV/100000", "PGLActionBatch/Copy/100000|PGLActionBatch/StreamCopy/100000", "copy", 0},
    {"  buffers at line + 16 B", "PGLActionBatch/ORVOffset16/100000", "PGLActionBatch/ORV/100000", "at line + 0 B", 1.05},
    {"  buffers at line + 32 B", "PGLActionBatch/ORVOffset32/100000", "PGLActionBatch/ORV/100000", "at line + 0 B", 1.05},
    {"  buffers at line + 48 B", "PGLActionBatch/ORVOffset48/100000", "PGLActionBatch/ORV/100000", "at line + 0 B", 1.05},
    {"PGL action batch, N = 1e7", "PGLActionBatch/ORV/10000000", "PGLActionBatch/Scalar/10000000", "plain loop", 0},
    {"", "PGLActionBatch/ORV/10000000", "PGLActionBatch/Eigen/10000000", "Eigen", 0},
    {"", "PGLActionBatch/ORV/10000000", "PGLActionBatch/GLM/10000000", "GLM", 0},
    {"", "PGLActionBatch/ORV/10000000", "PGLActionBatch/Copy/10000000|PGLActionBatch/StreamCopy/10000000", "copy", 1 / 0.9},
    {"FS distance batch, N = 16", "FSDistanceBatch/ORV/16", "FSDistanceBatch/Scalar/16", "plain loop", 0},
    {"FS distance batch, N = 64", "FSDistanceBatch/ORV/64", "FSDistanceBatch/Scalar/64", "plain loop", 0},
    {"FS distance batch, N = 1e3", "FSDistanceBatch/ORV/1000", "FSDistanceBatch/Scalar/1000", "plain loop", 0},
    {"", "FSDistanceBatch/ORV/1000", "FSDistanceBatch/Acos/1000", "bare acos loop", 1.3},
    {"  positions at line + 16 B", "FSDistanceBatch/ORVOffset16/1000", "FSDistanceBatch/ORV/1000", "at line + 0 B", 1.05},
    {"  positions at line + 32 B", "FSDistanceBatch/ORVOffset32/1000", "FSDistanceBatch/ORV/1000", "at line + 0 B", 1.05},
    {"  positions at line + 48 B", "FSDistanceBatch/ORVOffset48/1000", "FSDistanceBatch/ORV/1000", "at line + 0 B", 1.05},
    {"FS distance batch, N = 1e5", "FSDistanceBatch/ORV/100000", "FSDistanceBatch/Scalar/100000", "plain loop", 0},
    {"", "FSDistanceBatch/ORV/100000", "FSDistanceBatch/Acos/100000", "bare acos loop", 1.3},
    {"  positions at line + 16 B", "FSDistanceBatch/ORVOffset16/100000", "FSDistanceBatch/ORV/100000", "at line + 0 B", 1.05},
    {"  positions at line + 32 B", "FSDistanceBatch/ORVOffset32/100000", "FSDistanceBatch/ORV/100000", "at line + 0 B", 1.05},
    {"  positions at line + 48 B", "FSDistanceBatch/ORVOffset48/100000", "FSDistanceBatch/ORV/100000", "at line + 0 B", 1.05},
    {"FS distance batch, N = 1e7", "FSDistanceBatch/ORV/10000000", "FSDistanceBatch/Scalar/10000000", "plain loop", 0},
    {"", "FSDistanceBatch/ORV/10000000", "FSDistanceBatch/Acos/10000000", "bare acos loop", 1.3},
    {"PGL4::mul", "PGL4Mul/ORV", "PGL4Mul/Scalar", "plain loop", 0},
    {"", "PGL4Mul/ORV", "PGL4Mul/Eigen", "Eigen", 0},
    {"", "PGL4Mul/ORV", "PGL4Mul/GLM", "GLM", 0},
    {"mul, consumer at -O2", "ConsumerO2/mul/ORV", "ConsumerO2/mul/Eigen", "Eigen, same flags", 1.15},
    {"mul, consumer at -O3", "ConsumerO3/mul/ORV", "ConsumerO3/mul/Eigen", "Eigen, same flags", 1.15},
    {"mul, -O2 -march=x86-64-v2", "ConsumerO2v2/mul/ORV", "ConsumerO2v2/mul/Eigen", "Eigen, same flags", 1.15},
    {"mul, -O3 -march=x86-64-v2", "ConsumerO3v2/mul/ORV", "ConsumerO3v2/mul/Eigen", "Eigen, same flags", 1.15},
    {"mul, -O2 -march=x86-64-v3", "ConsumerO2v3/mul/ORV", "ConsumerO2v3/mul/Eigen", "Eigen, same flags", 1.15},
    {"mul, -O3 -march=x86-64-v3", "ConsumerO3v3/mul/ORV", "ConsumerO3v3/mul/Eigen", "Eigen, same flags", 1.15},
    {"apply, consumer at -O2", "ConsumerO2/apply/ORV", "ConsumerO2/apply/Eigen", "Eigen, same flags", 1.15},
    {"apply, consumer at -O3", "ConsumerO3/apply/ORV", "ConsumerO3/apply/Eigen", "Eigen, same flags", 1.15},
    {"apply, -O2 -march=x86-64-v2", "ConsumerO2v2/apply/ORV", "ConsumerO2v2/apply/Eigen", "Eigen, same flags", 1.15},
    {"apply, -O3 -march=x86-64-v2", "ConsumerO3v2/apply/ORV", "ConsumerO3v2/apply/Eigen", "Eigen, same flags", 1.15},
    {"apply, -O2 -march=x86-64-v3", "ConsumerO2v3/apply/ORV", "ConsumerO2v3/apply/Eigen", "Eigen, same flags", 1.15},
    {"apply, -O3 -march=x86-64-v3", "ConsumerO3v3/apply/ORV", "ConsumerO3v3/apply/Eigen", "Eigen, same flags", 1.15},
    {"inverse diag(2,3,4), 15 steps", "PGL4Inverse/Scale234/ORV", "PGL4Inverse/Scale234/EigenNewtonSchulz", "Eigen Newton-Schulz", 1.0},
    {"", "PGL4Inverse/Scale234/ORV", "PGL4Inverse/Scale234/EigenClosedForm", "Eigen closed form", 0},
    {"", "PGL4Inverse/Scale234/ORV", "PGL4Inverse/Scale234/GLMClosedForm", "GLM closed form", 0},
    {"inverse translate, 100 steps", "PGL4Inverse/Translate/ORV", "PGL4Inverse/Translate/EigenNewtonSchulz", "Eigen Newton-Schulz", 1.0},
    {"", "PGL4Inverse/Translate/ORV", "PGL4Inverse/Translate/EigenClosedForm", "Eigen closed form", 0},
    {"", "PGL4Inverse/Translate/ORV", "PGL4Inverse/Translate/GLMClosedForm", "GLM closed form", 0},
};
// clang-format on

constexpr const char* kPerCall[] = {"Camera/update", "Camera/mvpGpu"};

std::string cpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

std::string formatTime(double ns) {
  char buf[32];
  if (ns < 1e3)
    std::snprintf(buf, sizeof buf, "%.1f ns", ns);
  else if (ns < 1e6)
    std::snprintf(buf, sizeof buf, "%.2f us", ns / 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.2f ms", ns / 1e6);
  return buf;
}

// The console output as usual, and the CPU time of every repetition kept for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const double ns = run.GetAdjustedCPUTime() *
                        benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                        benchmark::GetTimeUnitMultiplier(run.time_unit);
      times_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/") +
             run.run_name.args]
          .push_back(ns);
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nMachine: %s, %u logical CPUs; ORV's vector paths: %s\n", cpuModel().c_str(),
                std::thread::hardware_concurrency(), detail::isaName(detail::bestIsa()));
    std::printf(
        "ORV / reference: fastest repetition's CPU time per call (a whole batch for the batches);"
        " below 1 ORV is faster\n");
    std::printf("%-31s %-20s %11s %11s %7s  %s\n", "benchmark", "reference", "ORV", "reference",
                "ratio", "target");
    for (const Ratio& r : kRatios) {
      const double orv = fastest(r.orv);
      const double ref = fastest(r.reference);
      if (orv <= 0.0 || ref <= 0.0) continue;  // filtered out of this run
      const double ratio = orv / ref;
      std::string target;
      if (r.max > 0.0) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "<= %.3f %s", r.max, ratio <= r.max ? "met" : "NOT MET");
        target = buf;
      }
      std::printf("%-31s %-20s %11s %11s %7.3f  %s\n", r.group, r.reference_label,
                  formatTime(orv).c_str(), formatTime(ref).c_str(), ratio, target.c_str());
    }
    for (const char* name : kPerCall) {
      const double t = fastest(name);
      if (t > 0.0) std::printf("%-31s %-20s %11s\n", name, "(per call)", formatTime(t).c_str());
    }
    std::fflush(stdout);
  }

 private:
  // The time of the fastest repetition of `names`, or of the fastest of several names separated by
  // '|'; 0 when none of them ran. On a machine shared with other work, interference only ever adds
  // time, so the fastest of interleaved repetitions is the one closest to the code's own cost, for
  // ORV and its references alike.
  double fastest(const std::string& names) const {
    double best = 0.0;
    std::size_t start = 0;
    while (start <= names.size()) {
      const std::size_t end = std::min(names.find('|', start), names.size());
      const auto it = times_.find(names.substr(start, end - start));
      if (it != times_.end()) {
        for (const double t : it->second) {
          if (best == 0.0 || t < best) best = t;
        }
      }
      start = end + 1;
    }
    return best;
  }

  std::map<std::string, std::vector<double>> times_;
};

}  // namespace
}  // namespace orv::bench

int main(int argc, char** argv) {
  orv::bench::registerBatchBenchmarks();
  orv::bench::registerMatrixBenchmarks();
  orv::bench::registerConsumerO2();
  orv::bench::registerConsumerO3();
  orv::bench::registerConsumerO2v2();
  orv::bench::registerConsumerO3v2();
  if (__builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0) {
    orv::bench::registerConsumerO2v3();
    orv::bench::registerConsumerO3v3();
  }
  orv::bench::registerCameraBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  orv::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
