#include "terminal_mode_reporters.hpp"

#include "error_trace.hpp"

namespace orv::runner {
namespace {

// "OK\n", "SKIP\n" or "FAIL ({error name})\n".
std::string outcomeLine(check::Result result, Verdict verdict) {
  switch (verdict) {
    case Verdict::passed:
      return "OK\n";
    case Verdict::skipped:
      return "SKIP\n";
    case Verdict::failed:
      break;
  }
  return "FAIL (" + std::string(check::errorName(result.error())) + ")\n";
}

}  // namespace

// "All {passed} tests passed.\n" or "{passed} passed; {skipped} skipped; {failed} failed.\n", then
// the number of errors logged and of checks that leaked memory where they are not 0.
void TerminalModeReporter::onRunEnd(const Counts& counts) {
  std::string text;
  if (counts.skipped == 0 && counts.failed == 0) {
    text = "All " + std::to_string(counts.passed) + " tests passed.\n";
  } else {
    text = std::to_string(counts.passed) + " passed; " + std::to_string(counts.skipped) +
           " skipped; " + std::to_string(counts.failed) + " failed.\n";
  }
  if (counts.errors_logged != 0) {
    text += std::to_string(counts.errors_logged) + " errors were logged.\n";
  }
  if (counts.leaked != 0) text += std::to_string(counts.leaked) + " tests leaked memory.\n";
  check::writeStderr(text);
}

// "{position}/{total} {name}...", the position counting from 1.
std::string TerminalModeReporter::prefix(std::size_t index, const check::TestFn& test) const {
  return std::to_string(index + 1) + "/" + std::to_string(total_) + " " + std::string(test.name) +
         "...";
}

void PipeReporter::onCheckStart(std::size_t index, const check::TestFn& test) {
  check::writeStderr(prefix(index, test));
}

void PipeReporter::onCheckReturned(std::size_t /*index*/, const check::TestFn& /*test*/,
                                   check::Result result, Verdict verdict,
                                   const check::ErrorTrace& trace) {
  check::writeStderr(outcomeLine(result, verdict));
  if (verdict == Verdict::failed) writeErrorTrace(trace);
}

void TerminalReporter::onRunStart(std::size_t total) {
  TerminalModeReporter::onRunStart(total);
  progress_.emplace("Test", total);
}

void TerminalReporter::onCheckStart(std::size_t /*index*/, const check::TestFn& test) {
  progress_->begin(test.name);
}

void TerminalReporter::onCheckReturned(std::size_t index, const check::TestFn& test,
                                       check::Result result, Verdict verdict,
                                       const check::ErrorTrace& trace) {
  if (verdict != Verdict::passed) {
    check::writeStderr(prefix(index, test) + outcomeLine(result, verdict));
  }
  if (verdict == Verdict::failed) writeErrorTrace(trace);
  progress_->end();
}

void TerminalReporter::onRunEnd(const Counts& counts) {
  progress_.reset();  // the display clears its line for good
  TerminalModeReporter::onRunEnd(counts);
}

}  // namespace orv::runner
