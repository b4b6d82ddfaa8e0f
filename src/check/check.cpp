// Results, the error return trace and the comparison functions of the check API.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "check.hpp"

namespace orv::check {
namespace {

ErrorTrace g_trace;

bool sameLine(const SourceLocation& a, const SourceLocation& b) noexcept {
  return a.line == b.line && std::strcmp(a.file, b.file) == 0;
}

template <typename T>
bool approxEqAbsImpl(T expected, T actual, T tolerance) noexcept {
  if (expected == actual) return true;
  if (std::isnan(expected) || std::isnan(actual)) return false;
  return std::abs(expected - actual) <= tolerance;
}

// Shortest round-trip scientific notation of `value` in its own type.
template <typename T>
void appendScientific(std::string& out, T value) {
  std::array<char, 64> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::scientific);
  out.append(buffer.data(), ec == std::errc{} ? end : buffer.data());
}

template <typename T>
Result expectApproxEqAbsImpl(T expected, T actual, T tolerance, SourceLocation where) noexcept {
  if (approxEqAbsImpl(expected, actual, tolerance)) return success;
  std::string line = "actual ";
  appendScientific(line, actual);
  line += ", not within absolute tolerance ";
  appendScientific(line, tolerance);
  line += " of expected ";
  appendScientific(line, expected);
  line += '\n';
  writeStderr(line);
  return fail(Error::TestExpectedApproxEqAbs, where);
}

}  // namespace

std::string_view errorName(Error error) noexcept {
  switch (error) {
    case Error::TestUnexpectedResult:
      return "TestUnexpectedResult";
    case Error::TestExpectedApproxEqAbs:
      return "TestExpectedApproxEqAbs";
    case Error::SkipVellTest:
      return "SkipVellTest";
  }
  return "Unexpected";
}

void ErrorTrace::record(SourceLocation where) noexcept {
  if (len < capacity) {
    entries[len++] = where;
  } else {
    ++dropped;
  }
}

ErrorTrace& errorTrace() noexcept { return g_trace; }

Result fail(Error error, SourceLocation where) noexcept {
  g_trace.record(where);
  return error;
}

Result passOn(Result result, SourceLocation where) noexcept {
  // `ORV_TRY(expect(…))` passes the error on from the line that created it: record it once.
  const bool repeated =
      g_trace.len > 0 && g_trace.dropped == 0 && sameLine(g_trace.entries[g_trace.len - 1], where);
  if (!result.ok() && !repeated) g_trace.record(where);
  return result;
}

Result skip(SourceLocation where) noexcept { return fail(Error::SkipVellTest, where); }

Result expect(bool ok, SourceLocation where) noexcept {
  return ok ? success : fail(Error::TestUnexpectedResult, where);
}

bool approxEqAbs(double expected, double actual, double tolerance) noexcept {
  return approxEqAbsImpl(expected, actual, tolerance);
}

bool approxEqAbs(float expected, float actual, float tolerance) noexcept {
  return approxEqAbsImpl(expected, actual, tolerance);
}

Result expectApproxEqAbs(double expected, double actual, double tolerance,
                         SourceLocation where) noexcept {
  return expectApproxEqAbsImpl(expected, actual, tolerance, where);
}

Result expectApproxEqAbs(float expected, float actual, float tolerance,
                         SourceLocation where) noexcept {
  return expectApproxEqAbsImpl(expected, actual, tolerance, where);
}

}  // namespace orv::check
