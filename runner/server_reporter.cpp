#include "server_reporter.hpp"

#include <array>
#include <cstdint>
#include <span>

#include "error_trace.hpp"
#include "protocol.hpp"

namespace orv::runner {

void ServerReporter::onCheckReturned(std::size_t /*index*/, const check::TestFn& /*test*/,
                                     check::Result /*result*/, Verdict verdict,
                                     const check::ErrorTrace& trace) {
  if (verdict == Verdict::failed) writeErrorTrace(trace);
}

void ServerReporter::onCheckEnd(std::size_t index, const check::TestFn& /*test*/,
                                const Outcome& outcome) {
  const std::uint32_t flags =
      protocol::testFlags(outcome.verdict == Verdict::failed, outcome.verdict == Verdict::skipped,
                          outcome.leaked, check::logErrCount());
  std::array<std::byte, 8> body{};
  // The index came from a request's u32, so it fits one.
  protocol::storeU32(static_cast<std::uint32_t>(index), std::span(body).first<4>());
  protocol::storeU32(flags, std::span(body).last<4>());
  sent_ = out_.write(protocol::encodeMessage(protocol::RunnerTag::test_results,
                                             std::span<const std::byte, 8>(body)));
}

}  // namespace orv::runner
