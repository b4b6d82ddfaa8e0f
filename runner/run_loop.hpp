// The run loop: runs checks one at a time, classifies each outcome and counts the outcomes of a
// run. It writes nothing itself; it tells a listener what happens, and the listeners (the pipe and
// terminal reporters, the server's reporter) present it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check.hpp"
#include "registry.hpp"

namespace orv::runner {

// How a check ended.
enum class Verdict : std::uint8_t { passed, skipped, failed };

// Success passes, the skip error skips, every other error fails.
constexpr Verdict classify(check::Result result) noexcept {
  if (result.ok()) return Verdict::passed;
  if (result.error() == check::Error::SkipVellTest) return Verdict::skipped;
  return Verdict::failed;
}

struct Outcome {
  Verdict verdict = Verdict::passed;
  bool leaked = false;  // memory was still allocated from the checking allocator when it returned
};

// The outcomes of a run.
struct Counts {
  std::uint64_t passed = 0;
  std::uint64_t skipped = 0;
  std::uint64_t failed = 0;
  std::uint64_t leaked = 0;         // checks that leaked memory, whatever their verdict
  std::uint64_t errors_logged = 0;  // error-level log messages, over the whole run
};

// What a run loop reports, in this order for each check: start, returned, end. `index` counts from
// 0 in the registry being run. Every event does nothing unless overridden.
class RunListener {
 public:
  virtual ~RunListener() = default;

  // Before the first check, with the number of checks that will run.
  virtual void onRunStart(std::size_t /*total*/) {}
  // The checking allocator is fresh and the log level at warn; the check is called next.
  virtual void onCheckStart(std::size_t /*index*/, const check::TestFn& /*test*/) {}
  // The check returned `result`, classified as `verdict`. `trace` still holds the path of a failed
  // check's error. The checking allocator is torn down after this event, so its leak reports follow
  // whatever the listener writes here.
  virtual void onCheckReturned(std::size_t /*index*/, const check::TestFn& /*test*/,
                               check::Result /*result*/, Verdict /*verdict*/,
                               const check::ErrorTrace& /*trace*/) {}
  // The checking allocator has been torn down: `outcome` is complete.
  virtual void onCheckEnd(std::size_t /*index*/, const check::TestFn& /*test*/,
                          const Outcome& /*outcome*/) {}
  // After the last check.
  virtual void onRunEnd(const Counts& /*counts*/) {}
};

// Runs one check: resets the checking allocator and sets the log level to warn, calls the check
// with an empty error return trace, classifies what it returned, empties the trace and tears the
// allocator down to learn whether the check leaked.
Outcome runCheck(std::size_t index, const check::TestFn& test, RunListener& listener);

// Runs every check of `registry` in order and counts the outcomes. The error-level log count is
// not reset: it covers the whole run.
Counts runAll(Registry registry, RunListener& listener);

}  // namespace orv::runner
