// The server-mode request loop in-process, over in-memory channels.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "byte_channel.hpp"
#include "check.hpp"
#include "protocol.hpp"
#include "server/wire_bytes.hpp"
#include "server_mode.hpp"

namespace {

using orv::check::Result;
using orv::runner::ServerEnd;
using orv::runner::ServerResult;
using namespace orv::test;  // NOLINT(google-build-using-namespace): the message builders

Result passes() { return orv::check::success; }
Result fails() {
  ORV_TRY(orv::check::expectApproxEqAbs(1.0, 2.0, 0.5));
  return orv::check::success;
}
Result skipped() { return orv::check::skip(); }
Result leaksTwo() {
  static_cast<void>(orv::check::allocator().allocate(8, 8));
  static_cast<void>(orv::check::allocator().allocate(8, 8));
  return orv::check::success;
}
Result logsTwoErrors() {
  orv::check::log(orv::check::LogLevel::err, "loop test", "first");
  orv::check::log(orv::check::LogLevel::err, "loop test", "second");
  return orv::check::success;
}
Result skippedAfterAnError() {
  orv::check::log(orv::check::LogLevel::err, "loop test", "then skipped");
  return orv::check::skip();
}

constexpr std::array registry{
    orv::check::TestFn{"loop.test.passes", &passes},
    orv::check::TestFn{"loop.test.fails", &fails},
    orv::check::TestFn{"loop.test.is skipped", &skipped},
    orv::check::TestFn{"loop.test.leaks two blocks", &leaksTwo},
    orv::check::TestFn{"loop.test.logs two errors", &logsTwoErrors},
    orv::check::TestFn{"loop.test.S³ skipped after an error", &skippedAfterAnError},
};

// Hands out `input` in pieces of at most `piece` bytes, then `filler` zero bytes, then the end.
// It can fail once `fail_at` bytes have been handed out, and notes the largest request.
class MemorySource final : public orv::runner::ByteSource {
 public:
  explicit MemorySource(Bytes input, std::size_t piece = 1 << 20)
      : input_(std::move(input)), piece_(piece) {}

  std::size_t filler = 0;
  std::optional<std::size_t> fail_at;
  std::size_t largest_request = 0;
  std::size_t overshoot = 0;  // a faulty source: hands out this many bytes more than asked

  std::optional<std::size_t> read(std::span<std::byte> out) override {
    largest_request = std::max(largest_request, out.size());
    if (fail_at && given_ >= *fail_at) return std::nullopt;
    if (overshoot != 0) return out.size() + overshoot;
    std::size_t n = std::min(out.size(), piece_);
    if (given_ < input_.size()) {
      n = std::min(n, input_.size() - given_);
      std::memcpy(out.data(), input_.data() + given_, n);
    } else {
      n = std::min(n, input_.size() + filler - given_);
      std::fill_n(out.begin(), n, std::byte{0});
    }
    given_ += n;
    return n;
  }

 private:
  Bytes input_;
  std::size_t piece_;
  std::size_t given_ = 0;
};

class MemorySink final : public orv::runner::ByteSink {
 public:
  Bytes written;
  std::optional<std::size_t> fail_on_write;  // 0-based index of the write that fails

  bool write(std::span<const std::byte> bytes) override {
    if (fail_on_write && writes_++ == *fail_on_write) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    written.insert(written.end(), p, p + bytes.size());
    return true;
  }

 private:
  std::size_t writes_ = 0;
};

struct Session {
  ServerResult result;
  Bytes replies;  // everything after the version message
};

Session serve(MemorySource& in, MemorySink& out) {
  const ServerResult result = orv::runner::serveMessages(registry, in, out);
  EXPECT_EQ(orv::check::allocator().liveBlocks(), 0u);
  const std::size_t skip = std::min(out.written.size(), version.size());
  EXPECT_EQ(Bytes(out.written.begin(), out.written.begin() + static_cast<std::ptrdiff_t>(skip)),
            version);
  return {result,
          Bytes(out.written.begin() + static_cast<std::ptrdiff_t>(skip), out.written.end())};
}

Session serve(Bytes input, std::size_t piece = 1 << 20) {
  MemorySource in(std::move(input), piece);
  MemorySink out;
  return serve(in, out);
}

// The metadata the registry above must produce, built by hand.
Bytes expectedMetadata() {
  Bytes strings{0};
  Bytes offsets;
  for (const auto& test : registry) {
    putU32(offsets, static_cast<std::uint32_t>(strings.size()));
    strings.insert(strings.end(), test.name.begin(), test.name.end());
    strings.push_back(0);
  }
  Bytes body;
  putU32(body, static_cast<std::uint32_t>(strings.size()));
  putU32(body, static_cast<std::uint32_t>(registry.size()));
  body.insert(body.end(), offsets.begin(), offsets.end());
  body.resize(body.size() + 4 * registry.size(), 0);
  body.insert(body.end(), strings.begin(), strings.end());
  return message(3, body);
}

TEST(ServerLoop, SendsTheVersionFirstAndNothingForExit) {
  const Session session = serve(exit_message);
  EXPECT_EQ(session.result.end, ServerEnd::exit_requested);
  EXPECT_TRUE(session.replies.empty());
}

TEST(ServerLoop, MetadataListsTheRegistryInOrder) {
  const Session session = serve(concat({query, exit_message}));
  EXPECT_EQ(session.result.end, ServerEnd::exit_requested);
  EXPECT_EQ(session.replies, expectedMetadata());
}

TEST(ServerLoop, MetadataOfAnEmptyRegistryIsOneZeroByte) {
  MemorySource in(concat({query, exit_message}));
  MemorySink out;
  orv::runner::serveMessages({}, in, out);
  const Bytes expected = concat({version, header(3, 9), {1, 0, 0, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(out.written, expected);
}

TEST(ServerLoop, RunTestReportsEachOutcomeInTheFlags) {
  const struct {
    const char* name;
    std::uint32_t index;
    std::uint32_t flags;
  } cases[] = {
      {"passes", 0, 0},
      {"fails", 1, 1},
      {"is skipped", 2, 2},
      {"leaks two blocks: two leak reports are two errors", 3, 4 + 2 * 8},
      {"logs two errors", 4, 2 * 8},
      {"skipped after an error", 5, 2 + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Session session = serve(concat({runTest(c.index), exit_message}));
    EXPECT_EQ(session.result.end, ServerEnd::exit_requested);
    EXPECT_EQ(session.replies, results(c.index, c.flags));
  }
}

TEST(ServerLoop, ErrorCountStartsFromZeroForEveryRequest) {
  orv::check::log(orv::check::LogLevel::err, "loop test", "before serving");
  const Session session =
      serve(concat({runTest(4), runTest(4), runTest(0), runTest(3), runTest(0), exit_message}));
  EXPECT_EQ(session.replies, concat({results(4, 16), results(4, 16), results(0, 0),
                                     results(3, 4 + 16), results(0, 0)}));
}

TEST(ServerLoop, FlagsCapTheErrorCountAtTwentyNineBits) {
  using orv::runner::protocol::testFlags;
  const struct {
    const char* name;
    bool failed, skipped, leaked;
    std::uint64_t errors;
    std::uint32_t flags;
  } cases[] = {
      {"nothing", false, false, false, 0, 0},
      {"every bit", true, true, true, 1, 15},
      {"largest count that fits", false, false, false, (1u << 29) - 1, 0xFFFFFFF8u},
      {"one past it", true, false, false, 1u << 29, 0xFFFFFFF9u},
      {"saturated counter", false, true, false, std::numeric_limits<std::uint64_t>::max(),
       0xFFFFFFFAu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testFlags(c.failed, c.skipped, c.leaked, c.errors), c.flags);
  }
}

TEST(ServerLoop, EndsAsTheInputSays) {
  const struct {
    const char* name;
    Bytes input;
    ServerEnd end;
    std::uint32_t detail;
    Bytes replies;
  } cases[] = {
      {"no input", {}, ServerEnd::peer_hung_up, 0, {}},
      {"input ends after a request", query, ServerEnd::peer_hung_up, 0, expectedMetadata()},
      {"input ends inside a header", {5, 0, 0}, ServerEnd::truncated_message, 0, {}},
      {"input ends inside a run_test body",
       concat({header(5, 4), {1, 0}}),
       ServerEnd::truncated_message,
       0,
       {}},
      {"input ends inside a surplus body",
       concat({header(4, 100), Bytes(99, 7)}),
       ServerEnd::truncated_message,
       0,
       {}},
      {"run_test without body", header(5, 0), ServerEnd::short_run_test, 0, {}},
      {"run_test with three bytes", message(5, {0, 0, 0}), ServerEnd::short_run_test, 3, {}},
      {"index one past the registry", runTest(6), ServerEnd::index_out_of_range, 6, {}},
      {"largest index", runTest(0xFFFFFFFFu), ServerEnd::index_out_of_range, 0xFFFFFFFFu, {}},
      {"update", message(1), ServerEnd::unsupported_message, 1, {}},
      {"run", message(2), ServerEnd::unsupported_message, 2, {}},
      {"hot_update", message(3), ServerEnd::unsupported_message, 3, {}},
      {"unknown tag after a request", concat({runTest(0), header(0xDEADBEEFu, 0xFFFFFFFFu)}),
       ServerEnd::unsupported_message, 0xDEADBEEFu, results(0, 0)},
      {"exit acts on its header alone", header(0, 0xFFFFFFFFu), ServerEnd::exit_requested, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Session session = serve(c.input);
    EXPECT_EQ(session.result.end, c.end);
    EXPECT_EQ(session.result.detail, c.detail);
    EXPECT_EQ(session.replies, c.replies);
  }
}

TEST(ServerLoop, SurplusBodyBytesAreDroppedUpToTheNextHeader) {
  // The surplus looks like an exit message: it must not be read as one.
  const Session session =
      serve(concat({runTest(1, exit_message), message(4, exit_message), runTest(2), exit_message}));
  EXPECT_EQ(session.result.end, ServerEnd::exit_requested);
  EXPECT_EQ(session.replies, concat({results(1, 1), expectedMetadata(), results(2, 2)}));
}

TEST(ServerLoop, HugeBodiesAreReadThroughABoundedBuffer) {
  // A 64 MiB surplus after a run_test index: read and dropped, never held.
  constexpr std::uint32_t body_len = 64u << 20;
  MemorySource in(concat({header(5, body_len), {0, 0, 0, 0}}));
  in.filler = body_len - 4;
  MemorySink out;
  const Session session = serve(in, out);
  EXPECT_EQ(session.result.end, ServerEnd::peer_hung_up);
  EXPECT_EQ(session.replies, results(0, 0));
  EXPECT_LE(in.largest_request, 64u * 1024u);
}

TEST(ServerLoop, ReadsOneByteAtATimeAlike) {
  const Bytes input =
      concat({query, runTest(1, {9, 9, 9}), runTest(3), runTest(0), message(4, {1}), exit_message});
  const Session whole = serve(input);
  const Session bytewise = serve(input, 1);
  EXPECT_EQ(bytewise.result.end, ServerEnd::exit_requested);
  EXPECT_EQ(bytewise.replies, whole.replies);
  EXPECT_EQ(whole.replies, concat({expectedMetadata(), results(1, 1), results(3, 4 + 16),
                                   results(0, 0), expectedMetadata()}));
}

TEST(ServerLoop, ChannelFailuresEndTheLoop) {
  const Bytes input = concat({query, runTest(0), exit_message});
  const struct {
    const char* name;
    std::optional<std::size_t> fail_read_at;
    std::optional<std::size_t> fail_write;
    bool overshoot;
  } cases[] = {
      {"first read fails", 0, std::nullopt, false},
      {"read inside a header fails", 3, std::nullopt, false},
      {"read inside a body fails", query.size() + 9, std::nullopt, false},
      {"version write fails", std::nullopt, 0, false},
      {"metadata write fails", std::nullopt, 1, false},
      {"results write fails", std::nullopt, 2, false},
      {"source hands out more than asked", std::nullopt, std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource in(input, 3);
    in.fail_at = c.fail_read_at;
    in.overshoot = c.overshoot ? 1 : 0;
    MemorySink out;
    out.fail_on_write = c.fail_write;
    EXPECT_EQ(orv::runner::serveMessages(registry, in, out).end, ServerEnd::channel_failed);
    // The metadata's memory is returned even when it could not be sent.
    EXPECT_EQ(orv::check::allocator().liveBlocks(), 0u);
  }
}

// A pipe whose ends both return EAGAIN instead of blocking.
struct NonBlockingPipe {
  std::array<int, 2> fds{-1, -1};
  NonBlockingPipe() { EXPECT_EQ(::pipe2(fds.data(), O_NONBLOCK | O_CLOEXEC), 0); }
  ~NonBlockingPipe() {
    for (const int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  void close(int end) {
    ::close(fds.at(static_cast<std::size_t>(end)));
    fds.at(static_cast<std::size_t>(end)) = -1;
  }
};

TEST(FdChannel, WaitsOnDescriptorsThatWouldBlock) {
  // Far more than a pipe holds, so the writer finds it full and the reader finds it empty.
  Bytes sent(1 << 20);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  NonBlockingPipe pipe;
  Bytes received;
  std::thread reader([&] {
    orv::runner::FdSource source(pipe.fds[0]);
    std::array<std::byte, 1000> chunk{};
    while (const std::optional<std::size_t> n = source.read(chunk)) {
      if (*n == 0) return;
      const auto* p = reinterpret_cast<const std::uint8_t*>(chunk.data());
      received.insert(received.end(), p, p + *n);
    }
    ADD_FAILURE() << "read failed";
  });
  orv::runner::FdSink sink(pipe.fds[1]);
  EXPECT_TRUE(sink.write({reinterpret_cast<const std::byte*>(sent.data()), sent.size()}));
  pipe.close(1);
  reader.join();
  EXPECT_EQ(received, sent);
}

TEST(FdChannel, FailuresAreReportedNotRaised) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);

  NonBlockingPipe pipe;
  pipe.close(0);
  const std::array<std::byte, 4> bytes{};
  EXPECT_FALSE(orv::runner::FdSink(pipe.fds[1]).write(bytes)) << "no reader left";
  std::array<std::byte, 4> buffer{};
  EXPECT_FALSE(orv::runner::FdSource(-1).read(buffer)) << "not a descriptor";

  // Over descriptors, a failed write ends the loop as a failed channel.
  NonBlockingPipe input;
  input.close(1);
  orv::runner::FdSource in(input.fds[0]);
  orv::runner::FdSink out(pipe.fds[1]);
  EXPECT_EQ(orv::runner::serveMessages(registry, in, out).end, ServerEnd::channel_failed);
  ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST(ServerLoopFinish, OrderlyEndsGiveTheExitStatus) {
  EXPECT_EQ(orv::runner::finishServing({ServerEnd::exit_requested}, 6), 0);

  testing::internal::CaptureStderr();
  EXPECT_EQ(orv::runner::finishServing({ServerEnd::peer_hung_up}, 6), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  testing::internal::CaptureStderr();
  EXPECT_EQ(orv::runner::finishServing({ServerEnd::unsupported_message, 0xDEADBEEFu}, 6), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unsupported message: deadbeef");
}

TEST(ServerLoopFinishDeathTest, BrokenPeersAndChannelsAreFatalStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    const char* name;
    ServerResult result;
    const char* pattern;
  } cases[] = {
      {"truncated", {ServerEnd::truncated_message}, "the input ended inside a message\n"},
      {"short run_test", {ServerEnd::short_run_test, 3}, "run_test body of 3 bytes holds no"},
      {"index",
       {ServerEnd::index_out_of_range, 9},
       "run_test index 9 is outside the registry "
       "of 6 tests\n"},
      {"too large", {ServerEnd::metadata_too_large}, "the test names do not fit one message\n"},
      {"channel", {ServerEnd::channel_failed}, "panic: internal test runner failure\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DEATH(orv::runner::finishServing(c.result, 6), c.pattern);
    EXPECT_DEATH(orv::runner::finishServing(c.result, 6), "panic: internal test runner failure\n");
  }
  EXPECT_DEATH(orv::runner::finishServing({ServerEnd::metadata_leak}, 6),
               "panic: internal test runner memory leak\n");
}

}  // namespace
