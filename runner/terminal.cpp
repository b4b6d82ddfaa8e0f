// Terminal mode: every check in order, one line each (or a progress display on a terminal), then
// the summary.
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

#include "progress.hpp"
#include "runner.hpp"

namespace orv::runner {
namespace {

struct Counts {
  std::uint64_t ok = 0;
  std::uint64_t skipped = 0;
  std::uint64_t failed = 0;
  std::uint64_t leaks = 0;
};

std::string position(std::size_t i, std::size_t n, std::string_view name) {
  return std::to_string(i) + "/" + std::to_string(n) + " " + std::string(name) + "...";
}

void writeSummary(const Counts& counts) {
  std::string text;
  if (counts.skipped == 0 && counts.failed == 0) {
    text = "All " + std::to_string(counts.ok) + " tests passed.\n";
  } else {
    text = std::to_string(counts.ok) + " passed; " + std::to_string(counts.skipped) + " skipped; " +
           std::to_string(counts.failed) + " failed.\n";
  }
  if (const std::uint64_t errors = check::logErrCount(); errors != 0) {
    text += std::to_string(errors) + " errors were logged.\n";
  }
  if (counts.leaks != 0) text += std::to_string(counts.leaks) + " tests leaked memory.\n";
  check::writeStderr(text);
}

}  // namespace

int runTerminal(Registry registry) {
  const bool on_terminal = ::isatty(STDERR_FILENO) == 1;
  std::optional<ProgressDisplay> progress;
  if (on_terminal) progress.emplace("Test", registry.size());

  Counts counts;
  for (std::size_t i = 0; i < registry.size(); ++i) {
    const check::TestFn& test = registry[i];
    const std::string prefix = position(i + 1, registry.size(), test.name);
    if (progress) {
      progress->begin(test.name);
    } else {
      check::writeStderr(prefix);
    }
    const Outcome outcome = runCheck(test, [&](check::Result result) {
      const std::string lead = on_terminal ? prefix : std::string();
      if (result.ok()) {
        ++counts.ok;
        if (!on_terminal) check::writeStderr("OK\n");
      } else if (result.error() == check::Error::SkipVellTest) {
        ++counts.skipped;
        check::writeStderr(lead + "SKIP\n");
      } else {
        ++counts.failed;
        check::writeStderr(lead + "FAIL (" + std::string(check::errorName(result.error())) + ")\n");
        printErrorTrace(check::errorTrace());
      }
      if (progress) progress->end();
    });
    if (outcome.leaked) ++counts.leaks;
  }
  progress.reset();

  writeSummary(counts);
  const bool clean = counts.failed == 0 && counts.leaks == 0 && check::logErrCount() == 0;
  return clean ? 0 : 1;
}

}  // namespace orv::runner
