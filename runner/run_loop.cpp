#include "run_loop.hpp"

namespace orv::runner {

Outcome runCheck(std::size_t index, const check::TestFn& test, RunListener& listener) {
  check::allocator().reset();
  check::setLogLevel(check::LogLevel::warn);
  check::errorTrace().clear();
  listener.onCheckStart(index, test);
  const check::Result result = test.func();
  const Verdict verdict = classify(result);
  listener.onCheckReturned(index, test, result, verdict, check::errorTrace());
  check::errorTrace().clear();
  const Outcome outcome{verdict, check::allocator().teardown()};
  listener.onCheckEnd(index, test, outcome);
  return outcome;
}

Counts runAll(Registry registry, RunListener& listener) {
  Counts counts;
  listener.onRunStart(registry.size());
  for (std::size_t i = 0; i < registry.size(); ++i) {
    const Outcome outcome = runCheck(i, registry[i], listener);
    switch (outcome.verdict) {
      case Verdict::passed:
        ++counts.passed;
        break;
      case Verdict::skipped:
        ++counts.skipped;
        break;
      case Verdict::failed:
        ++counts.failed;
        break;
    }
    if (outcome.leaked) ++counts.leaked;
  }
  counts.errors_logged = check::logErrCount();
  listener.onRunEnd(counts);
  return counts;
}

}  // namespace orv::runner
