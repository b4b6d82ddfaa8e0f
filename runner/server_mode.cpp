// Server mode: a controlling peer lists the registry and runs single checks over framed messages.
//
// Inputs the message set leaves open end as follows:
// - `exit` and the tags that are not served act on the header alone. The process is ending, so
//   their bodies (there should be none) are not waited for.
// - A body longer than its message needs is read to its end and the surplus dropped; the next
//   header follows it. Bodies go through a fixed buffer, so a hostile `bytes_len` (up to 4 GiB)
//   costs reading time, never memory.
// - A `run_test` body shorter than an index, and an index past the registry, come from a broken
//   peer: a line naming the fault, then the fatal stop "internal test runner failure". No check
//   runs, and no registry entry is touched.
// - Input ending inside a header or a body is a failed channel, with the same fatal stop.
// - Input ending where a message would begin means the peer hung up without `exit`. Nobody is
//   left to answer, so the process ends quietly, with status 1 because no `exit` was sent.
#include "server_mode.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "check.hpp"
#include "fatal.hpp"
#include "protocol.hpp"
#include "run_loop.hpp"
#include "server_reporter.hpp"

namespace orv::runner {
namespace {

using protocol::PeerTag;
using protocol::RunnerTag;

// Bodies pass through this much stack space.
constexpr std::size_t body_chunk_size = 4096;
constexpr std::size_t index_size = 4;

enum class Fill : std::uint8_t { complete, ended_at_start, ended_inside, failed };

Fill readExact(ByteSource& in, std::span<std::byte> out) {
  std::size_t got = 0;
  while (got < out.size()) {
    const std::optional<std::size_t> n = in.read(out.subspan(got));
    if (!n || *n > out.size() - got) return Fill::failed;
    if (*n == 0) return got == 0 ? Fill::ended_at_start : Fill::ended_inside;
    got += *n;
  }
  return Fill::complete;
}

// Reads a body of `bytes_len` bytes (at least `keep.size()`) into `keep`, dropping the rest.
Fill readBody(ByteSource& in, std::uint32_t bytes_len, std::span<std::byte> keep) {
  Fill fill = readExact(in, keep);
  std::array<std::byte, body_chunk_size> chunk;
  std::size_t left = bytes_len - keep.size();
  while (fill == Fill::complete && left > 0) {
    const std::size_t n = std::min(left, chunk.size());
    fill = readExact(in, std::span(chunk).first(n));
    left -= n;
  }
  // The header has been read, so the input cannot end at a message boundary here.
  return fill == Fill::ended_at_start ? Fill::ended_inside : fill;
}

ServerResult endOfInput(Fill fill) {
  switch (fill) {
    case Fill::ended_at_start:
      return {ServerEnd::peer_hung_up};
    case Fill::ended_inside:
      return {ServerEnd::truncated_message};
    case Fill::complete:
    case Fill::failed:
      break;
  }
  return {ServerEnd::channel_failed};
}

bool sendVersion(ByteSink& out) {
  constexpr std::size_t n = protocol::version.size();
  std::array<std::byte, n> body{};
  std::memcpy(body.data(), protocol::version.data(), n);
  return out.write(
      protocol::encodeMessage(RunnerTag::vell_version, std::span<const std::byte, n>(body)));
}

// `test_metadata`: string_bytes_len, tests_len, the name offsets, the expected-panic offsets (all
// zero), then the string bytes: a zero byte and every name with a terminating zero byte. The
// message lives on a fresh checking allocator, which must be empty again once it is sent.
std::optional<ServerEnd> answerMetadata(Registry registry, ByteSink& out) {
  constexpr std::uint64_t max_len = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t string_bytes_len = 1;
  for (const check::TestFn& test : registry) {
    string_bytes_len += std::uint64_t{test.name.size()} + 1;
    if (string_bytes_len > max_len) return ServerEnd::metadata_too_large;
  }
  const std::uint64_t tests_len = registry.size();
  const std::uint64_t body_len = 8 + 8 * tests_len + string_bytes_len;
  if (body_len > max_len) return ServerEnd::metadata_too_large;

  check::CheckingAllocator& memory = check::allocator();
  memory.reset();
  bool sent = false;
  {
    std::pmr::vector<std::byte> message(protocol::header_size + body_len, &memory);
    const std::span<std::byte> bytes(message);
    const auto u32At = [&](std::size_t offset) { return bytes.subspan(offset).first<4>(); };
    const auto header =
        protocol::encodeHeader({static_cast<std::uint32_t>(RunnerTag::test_metadata),
                                static_cast<std::uint32_t>(body_len)});
    std::copy(header.begin(), header.end(), bytes.begin());
    std::size_t at = protocol::header_size;
    protocol::storeU32(static_cast<std::uint32_t>(string_bytes_len), u32At(at));
    protocol::storeU32(static_cast<std::uint32_t>(tests_len), u32At(at + 4));
    const std::size_t name_offsets = at + 8;
    const std::size_t strings = name_offsets + 8 * registry.size();
    std::size_t offset = 1;  // past the leading zero byte
    for (std::size_t i = 0; i < registry.size(); ++i) {
      const std::string_view name = registry[i].name;
      protocol::storeU32(static_cast<std::uint32_t>(offset), u32At(name_offsets + 4 * i));
      std::memcpy(bytes.data() + strings + offset, name.data(), name.size());
      offset += name.size() + 1;
    }
    sent = out.write(bytes);
  }
  const bool leaked = memory.teardown();
  if (!sent) return ServerEnd::channel_failed;
  if (leaked) return ServerEnd::metadata_leak;
  return std::nullopt;
}

// Runs one check with the error count starting from zero; its reporter sends `test_results`.
bool answerRunTest(std::uint32_t index, const check::TestFn& test, ByteSink& out) {
  check::resetLogErrCount();
  ServerReporter reporter(out);
  static_cast<void>(runCheck(index, test, reporter));
  return reporter.sent();
}

std::string hex(std::uint32_t value) {
  std::array<char, 8> digits{};
  const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
  return {digits.data(), ec == std::errc{} ? end : digits.data()};
}

}  // namespace

ServerResult serveMessages(Registry registry, ByteSource& in, ByteSink& out) {
  if (!sendVersion(out)) return {ServerEnd::channel_failed};
  for (;;) {
    std::array<std::byte, protocol::header_size> raw{};
    if (const Fill fill = readExact(in, raw); fill != Fill::complete) return endOfInput(fill);
    const protocol::Header header = protocol::decodeHeader(raw);

    switch (static_cast<PeerTag>(header.tag)) {
      case PeerTag::exit:
        return {ServerEnd::exit_requested};

      case PeerTag::query_test_metadata: {
        if (const Fill fill = readBody(in, header.bytes_len, {}); fill != Fill::complete) {
          return endOfInput(fill);
        }
        if (const auto end = answerMetadata(registry, out)) return {*end};
        break;
      }

      case PeerTag::run_test: {
        if (header.bytes_len < index_size) return {ServerEnd::short_run_test, header.bytes_len};
        std::array<std::byte, index_size> index_bytes{};
        if (const Fill fill = readBody(in, header.bytes_len, index_bytes); fill != Fill::complete) {
          return endOfInput(fill);
        }
        const std::uint32_t index = protocol::loadU32(index_bytes);
        if (index >= registry.size()) return {ServerEnd::index_out_of_range, index};
        if (!answerRunTest(index, registry[index], out)) return {ServerEnd::channel_failed};
        break;
      }

      case PeerTag::update:
      case PeerTag::run:
      case PeerTag::hot_update:
      default:
        return {ServerEnd::unsupported_message, header.tag};
    }
  }
}

int finishServing(ServerResult result, std::size_t registry_size) {
  switch (result.end) {
    case ServerEnd::exit_requested:
      return 0;
    case ServerEnd::unsupported_message:
      check::writeStderr("unsupported message: " + hex(result.detail));
      return 1;
    case ServerEnd::peer_hung_up:
      return 1;
    case ServerEnd::truncated_message:
      check::writeStderr("the input ended inside a message\n");
      break;
    case ServerEnd::short_run_test:
      check::writeStderr("run_test body of " + std::to_string(result.detail) +
                         " bytes holds no test index\n");
      break;
    case ServerEnd::index_out_of_range:
      check::writeStderr("run_test index " + std::to_string(result.detail) +
                         " is outside the registry of " + std::to_string(registry_size) +
                         " tests\n");
      break;
    case ServerEnd::metadata_too_large:
      check::writeStderr("the test names do not fit one message\n");
      break;
    case ServerEnd::metadata_leak:
      fatalStop("internal test runner memory leak");
    case ServerEnd::channel_failed:
      break;
  }
  fatalStop("internal test runner failure");
}

}  // namespace orv::runner
