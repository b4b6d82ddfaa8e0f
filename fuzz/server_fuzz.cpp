// Fuzzes the server-mode request loop in-process. The input is what a peer sends, handed out in
// uneven pieces as a pipe may; the replies must equal, byte for byte, what an independent reading
// of the input predicts, and the loop must end the way that reading says. The loop reports every
// end as a value and never stops the process itself, so any crash, leak or sanitizer report here
// is a fault.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <span>
#include <vector>

#include "byte_channel.hpp"
#include "check.hpp"
#include "protocol.hpp"
#include "server_mode.hpp"

namespace {

using orv::check::Result;
using orv::runner::ServerEnd;
using orv::runner::ServerResult;
using orv::runner::protocol::PeerTag;
using orv::runner::protocol::RunnerTag;

constexpr std::uint32_t tagOf(auto tag) { return static_cast<std::uint32_t>(tag); }

Result passes() { return orv::check::success; }
Result fails() { return orv::check::expect(false); }
Result skipped() { return orv::check::skip(); }
Result leaks() {
  static_cast<void>(orv::check::allocator().allocate(16, 8));
  return orv::check::success;
}
Result logsError() {
  orv::check::log(orv::check::LogLevel::err, "fuzz", "an error");
  return orv::check::success;
}
Result allocatesAndFrees() {
  std::pmr::vector<int> values(10, 1, &orv::check::allocator());
  return orv::check::expect(values.size() == 10);
}

constexpr std::array registry{
    orv::check::TestFn{"fuzz.test.passes", &passes},
    orv::check::TestFn{"fuzz.test.fails", &fails},
    orv::check::TestFn{"fuzz.test.is skipped", &skipped},
    orv::check::TestFn{"fuzz.test.leaks", &leaks},
    orv::check::TestFn{"fuzz.test.logs an error", &logsError},
    orv::check::TestFn{"fuzz.test.allocates: S³ → Π_Λ", &allocatesAndFrees},
};
// failed + 2·skipped + 4·leaked + 8·errors (a leak report is a logged error).
constexpr std::array<std::uint32_t, registry.size()> expected_flags{0, 1, 2, 4 + 8, 8, 0};

void putU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t getU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::vector<std::uint8_t> expectedMetadata() {
  std::vector<std::uint8_t> strings{0};
  std::vector<std::uint8_t> offsets;
  for (const auto& test : registry) {
    putU32(offsets, static_cast<std::uint32_t>(strings.size()));
    strings.insert(strings.end(), test.name.begin(), test.name.end());
    strings.push_back(0);
  }
  std::vector<std::uint8_t> message;
  putU32(message, tagOf(RunnerTag::test_metadata));
  putU32(message, static_cast<std::uint32_t>(8 + 8 * registry.size() + strings.size()));
  putU32(message, static_cast<std::uint32_t>(strings.size()));
  putU32(message, static_cast<std::uint32_t>(registry.size()));
  message.insert(message.end(), offsets.begin(), offsets.end());
  message.resize(message.size() + 4 * registry.size(), 0);
  message.insert(message.end(), strings.begin(), strings.end());
  return message;
}

struct Prediction {
  ServerResult result;
  std::vector<std::uint8_t> replies;
};

// What the loop must do with `input`, read message by message.
Prediction predict(std::span<const std::uint8_t> input) {
  static const std::vector<std::uint8_t> metadata = expectedMetadata();
  Prediction p;
  const char version[] =
      "\0\0\0\0\x06\0\0\0"
      "0.13.0";
  p.replies.assign(version, version + sizeof version - 1);
  std::size_t at = 0;
  for (;;) {
    if (at == input.size()) return p.result = {ServerEnd::peer_hung_up}, p;
    if (input.size() - at < 8) return p.result = {ServerEnd::truncated_message}, p;
    const std::uint32_t tag = getU32(&input[at]);
    const std::uint32_t len = getU32(&input[at + 4]);
    at += 8;
    const bool query = tag == tagOf(PeerTag::query_test_metadata);
    const bool run_test = tag == tagOf(PeerTag::run_test);
    if (tag == tagOf(PeerTag::exit)) return p.result = {ServerEnd::exit_requested}, p;
    if (!query && !run_test) return p.result = {ServerEnd::unsupported_message, tag}, p;
    if (run_test && len < 4) return p.result = {ServerEnd::short_run_test, len}, p;
    if (input.size() - at < len) return p.result = {ServerEnd::truncated_message}, p;
    if (query) {
      p.replies.insert(p.replies.end(), metadata.begin(), metadata.end());
    } else {
      const std::uint32_t index = getU32(&input[at]);
      if (index >= registry.size()) return p.result = {ServerEnd::index_out_of_range, index}, p;
      putU32(p.replies, tagOf(RunnerTag::test_results));
      putU32(p.replies, 8);
      putU32(p.replies, index);
      putU32(p.replies, expected_flags[index]);
    }
    at += len;
  }
}

// Hands out the input in pieces of 1 to 13 bytes.
class PieceSource final : public orv::runner::ByteSource {
 public:
  explicit PieceSource(std::span<const std::uint8_t> input) : rest_(input) {}
  std::optional<std::size_t> read(std::span<std::byte> out) override {
    if (out.empty()) fault("read into an empty buffer");
    piece_ = piece_ % 13 + 1;
    const std::size_t n = std::min({out.size(), rest_.size(), piece_});
    std::memcpy(out.data(), rest_.data(), n);
    rest_ = rest_.subspan(n);
    return n;
  }

  [[noreturn]] static void fault(const char* what) {
    std::fprintf(stderr, "server fuzz: %s\n", what);
    std::abort();
  }

 private:
  std::span<const std::uint8_t> rest_;
  std::size_t piece_ = 0;
};

class CollectingSink final : public orv::runner::ByteSink {
 public:
  bool write(std::span<const std::byte> bytes) override {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    written.insert(written.end(), p, p + bytes.size());
    return true;
  }
  std::vector<std::uint8_t> written;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  PieceSource in(input);
  CollectingSink out;
  const ServerResult result = orv::runner::serveMessages(registry, in, out);

  const Prediction expected = predict(input);
  if (result.end != expected.result.end || result.detail != expected.result.detail) {
    PieceSource::fault("the loop ended otherwise than the input says");
  }
  if (out.written != expected.replies) PieceSource::fault("the replies differ from the prediction");
  if (orv::check::allocator().liveBlocks() != 0) PieceSource::fault("checking allocator not empty");
  return 0;
}
