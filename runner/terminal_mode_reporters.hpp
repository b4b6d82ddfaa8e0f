// Terminal mode's reporters: standard error on a pipe or a file gets a line for every check, a
// terminal gets a progress display and lines only for the checks that were skipped or failed.
// Both end with the summary.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "progress.hpp"
#include "run_loop.hpp"

namespace orv::runner {

// What both have in common: the "{i}/{N} {name}..." prefix of a check's line, and the summary.
class TerminalModeReporter : public RunListener {
 public:
  void onRunStart(std::size_t total) override { total_ = total; }
  void onRunEnd(const Counts& counts) override;

 protected:
  std::string prefix(std::size_t index, const check::TestFn& test) const;

 private:
  std::size_t total_ = 0;
};

// Standard error is not a terminal. The prefix is written before the check runs, so that anything
// the check writes follows it, and the outcome word once it returns; a failure's error return
// trace follows its line.
class PipeReporter final : public TerminalModeReporter {
 public:
  void onCheckStart(std::size_t index, const check::TestFn& test) override;
  void onCheckReturned(std::size_t index, const check::TestFn& test, check::Result result,
                       Verdict verdict, const check::ErrorTrace& trace) override;
};

// Standard error is a terminal. The progress display ("Test [done/total] name") runs from the start
// of the run until just before the summary. A skipped or failed check's line is written whole once
// it returns, a failure's error return trace after it.
class TerminalReporter final : public TerminalModeReporter {
 public:
  void onRunStart(std::size_t total) override;
  void onCheckStart(std::size_t index, const check::TestFn& test) override;
  void onCheckReturned(std::size_t index, const check::TestFn& test, check::Result result,
                       Verdict verdict, const check::ErrorTrace& trace) override;
  void onRunEnd(const Counts& counts) override;

 private:
  std::optional<ProgressDisplay> progress_;
};

}  // namespace orv::runner
