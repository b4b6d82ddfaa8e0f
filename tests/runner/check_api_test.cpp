// The check API: approximate comparison at its boundaries, the mismatch line, the error return
// trace, the log sink and the checking allocator.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "check.hpp"

namespace {

using orv::check::Error;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr float inf_f = std::numeric_limits<float>::infinity();
constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();

TEST(ApproxEqAbs, DoubleBoundaries) {
  const struct {
    const char* name;
    double expected, actual, tolerance;
    bool match;
  } cases[] = {
      {"bound is inclusive", 1.0, 1.5, 0.5, true},
      {"beyond the bound", 1.0, 1.5, 0.25, false},
      {"exact equality with zero tolerance", 0.1, 0.1, 0.0, true},
      {"signed zeros are equal", 0.0, -0.0, 0.0, true},
      {"NaN never matches NaN", nan, nan, inf, false},
      {"NaN expected", nan, 1.0, inf, false},
      {"NaN actual", 1.0, nan, inf, false},
      {"equal infinities, zero tolerance", inf, inf, 0.0, true},
      {"equal negative infinities", -inf, -inf, 0.0, true},
      {"opposite infinities", inf, -inf, 1e308, false},
      {"any non-NaN pair within an infinite tolerance", inf, -inf, inf, true},
      {"infinity against a finite value", inf, 1e308, 1e308, false},
      {"overflowing difference", 1.7e308, -1.7e308, 1e308, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(orv::check::approxEqAbs(c.expected, c.actual, c.tolerance), c.match);
  }
}

TEST(ApproxEqAbs, FloatBoundaries) {
  const struct {
    const char* name;
    float expected, actual, tolerance;
    bool match;
  } cases[] = {
      {"bound is inclusive", 1.0f, 1.5f, 0.5f, true},
      {"beyond the bound", 1.0f, 1.5f, 0.25f, false},
      // 1e8 − (−1) = 100000001 rounds to 1e8 in f32 (spacing 8 there): within a tolerance of 1e8,
      // although the exact difference is not.
      {"difference rounded in f32", 1e8f, -1.0f, 1e8f, true},
      {"NaN never matches NaN", nan_f, nan_f, inf_f, false},
      {"equal infinities, zero tolerance", inf_f, inf_f, 0.0f, true},
      {"opposite infinities", -inf_f, inf_f, 3e38f, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(orv::check::approxEqAbs(c.expected, c.actual, c.tolerance), c.match);
  }
}

class CheckApi : public ::testing::Test {
 protected:
  void SetUp() override { orv::check::errorTrace().clear(); }
  void TearDown() override { orv::check::errorTrace().clear(); }
};

TEST_F(CheckApi, MismatchLineUsesShortestScientificNotationOfEachType) {
  const struct {
    const char* name;
    bool is_float;
    double expected, actual, tolerance;
    const char* line;
  } cases[] = {
      {"f64", false, 1.0, 1.5, 0.25,
       "actual 1.5e+00, not within absolute tolerance 2.5e-01 of expected 1e+00\n"},
      {"f64 shortest digits", false, 0.1, 0.30000000000000004, 1e-10,
       "actual 3.0000000000000004e-01, not within absolute tolerance 1e-10 of expected 1e-01\n"},
      {"f64 NaN and infinity", false, inf, nan, 0.0,
       "actual nan, not within absolute tolerance 0e+00 of expected inf\n"},
      {"f32 prints f32 digits", true, 0.1, 0.2, 0.05,
       "actual 2e-01, not within absolute tolerance 5e-02 of expected 1e-01\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    const orv::check::Result r =
        c.is_float ? orv::check::expectApproxEqAbs(static_cast<float>(c.expected),
                                                   static_cast<float>(c.actual),
                                                   static_cast<float>(c.tolerance))
                   : orv::check::expectApproxEqAbs(c.expected, c.actual, c.tolerance);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    EXPECT_EQ(r.error(), Error::TestExpectedApproxEqAbs);
  }
}

TEST_F(CheckApi, MatchPrintsNothingAndLeavesTraceEmpty) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(orv::check::expectApproxEqAbs(1.0, 1.5, 0.5).ok());
  EXPECT_TRUE(orv::check::expect(true).ok());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(orv::check::errorTrace().len, 0U);
}

TEST_F(CheckApi, ErrorNames) {
  EXPECT_EQ(orv::check::errorName(Error::TestUnexpectedResult), "TestUnexpectedResult");
  EXPECT_EQ(orv::check::errorName(Error::TestExpectedApproxEqAbs), "TestExpectedApproxEqAbs");
  EXPECT_EQ(orv::check::errorName(Error::SkipVellTest), "SkipVellTest");
}

constexpr unsigned inner_line = __LINE__ + 1;
orv::check::Result inner() { return orv::check::expect(false); }
orv::check::Result middle() {
  ORV_TRY(inner());
  return orv::check::success;
}
orv::check::Result outer() {
  ORV_TRY(middle());
  return orv::check::success;
}

TEST_F(CheckApi, TraceRecordsCreationAndEveryPassOn) {
  EXPECT_EQ(outer().error(), Error::TestUnexpectedResult);
  const auto& trace = orv::check::errorTrace();
  ASSERT_EQ(trace.len, 3U);
  EXPECT_EQ(trace.entries[0].line, inner_line);
  EXPECT_EQ(trace.entries[1].line, inner_line + 2);
  EXPECT_EQ(trace.entries[2].line, inner_line + 6);
}

orv::check::Result failsDirectly() {
  ORV_TRY(orv::check::expect(false));
  return orv::check::success;
}

TEST_F(CheckApi, TryAroundAComparisonRecordsItsLineOnce) {
  EXPECT_FALSE(failsDirectly().ok());
  EXPECT_EQ(orv::check::errorTrace().len, 1U);
}

TEST_F(CheckApi, TraceKeepsThirtyTwoEntriesAndCountsTheRest) {
  auto& trace = orv::check::errorTrace();
  for (int i = 0; i < 40; ++i)
    trace.record(orv::check::SourceLocation::current());
  EXPECT_EQ(trace.len, orv::check::ErrorTrace::capacity);
  EXPECT_EQ(trace.dropped, 8U);
  trace.clear();
  EXPECT_EQ(trace.len, 0U);
  EXPECT_EQ(trace.dropped, 0U);
}

TEST(LogSink, WritesAtOrAboveTheThresholdAndCountsErrors) {
  orv::check::setLogLevel(orv::check::LogLevel::warn);
  const std::uint64_t before = orv::check::logErrCount();
  testing::internal::CaptureStderr();
  orv::check::log(orv::check::LogLevel::err, "scope", "first");
  orv::check::log(orv::check::LogLevel::warn, "default", "second");
  orv::check::log(orv::check::LogLevel::info, "scope", "hidden");
  orv::check::log(orv::check::LogLevel::debug, "scope", "hidden");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[scope] (err): first\n[default] (warn): second\n");
  EXPECT_EQ(orv::check::logErrCount(), before + 1);

  orv::check::setLogLevel(orv::check::LogLevel::err);
  testing::internal::CaptureStderr();
  orv::check::log(orv::check::LogLevel::warn, "scope", "hidden");
  orv::check::log(orv::check::LogLevel::err, "scope", "shown");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[scope] (err): shown\n");
  orv::check::setLogLevel(orv::check::LogLevel::warn);
  orv::check::resetLogErrCount();
  EXPECT_EQ(orv::check::logErrCount(), 0U);
}

TEST(CheckingAllocator, ReportsEachLeakedBlockOnceThroughTheLogSink) {
  orv::check::CheckingAllocator gpa;
  orv::check::resetLogErrCount();
  void* kept = gpa.allocate(32, 16);
  void* freed = gpa.allocate(8, 8);
  gpa.deallocate(freed, 8, 8);
  EXPECT_EQ(gpa.liveBlocks(), 1U);

  testing::internal::CaptureStderr();
  EXPECT_TRUE(gpa.teardown());
  const std::string err = testing::internal::GetCapturedStderr();
  char address[32];
  std::snprintf(address, sizeof address, "%p", kept);
  EXPECT_EQ(err.rfind(std::string("[gpa] (err): memory address ") + address + " leaked: \n", 0), 0U)
      << err;
  EXPECT_EQ(orv::check::logErrCount(), 1U);
  EXPECT_EQ(gpa.liveBlocks(), 0U);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(gpa.teardown());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  orv::check::resetLogErrCount();
}

TEST(CheckingAllocator, InvalidAndMismatchedFreesAreLoggedErrors) {
  orv::check::CheckingAllocator gpa;
  orv::check::resetLogErrCount();
  void* p = gpa.allocate(16, 8);
  int not_ours = 0;
  testing::internal::CaptureStderr();
  gpa.deallocate(&not_ours, 4, 4);
  gpa.deallocate(p, 24, 8);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[gpa] (err): Invalid free"), std::string::npos) << err;
  EXPECT_NE(err.find("[gpa] (err): Allocation size 16"), std::string::npos) << err;
  EXPECT_EQ(orv::check::logErrCount(), 2U);
  EXPECT_EQ(gpa.liveBlocks(), 0U);
  orv::check::resetLogErrCount();
}

}  // namespace
