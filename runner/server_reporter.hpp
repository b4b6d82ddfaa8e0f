// Server mode's reporter: the outcome of one requested check, as a `test_results` message.
#pragma once

#include "byte_channel.hpp"
#include "run_loop.hpp"

namespace orv::runner {

// Writes a failed check's error return trace to standard error (no outcome line: the peer learns
// the outcome from the reply), then sends `test_results` with the check's index and its flags, the
// error-level log count taken when the check has ended.
class ServerReporter final : public RunListener {
 public:
  explicit ServerReporter(ByteSink& out) noexcept : out_(out) {}

  void onCheckReturned(std::size_t index, const check::TestFn& test, check::Result result,
                       Verdict verdict, const check::ErrorTrace& trace) override;
  void onCheckEnd(std::size_t index, const check::TestFn& test, const Outcome& outcome) override;

  // Whether the reply went out.
  bool sent() const noexcept { return sent_; }

 private:
  ByteSink& out_;
  bool sent_ = false;
};

}  // namespace orv::runner
