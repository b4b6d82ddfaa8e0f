// The framed messages of server mode. Every message in either direction is an 8-byte header
// (u32 tag, u32 bytes_len) followed by bytes_len body bytes; all integers are little-endian.
// Header-only (the target `orv_protocol`), so that the runner, the peer and the fuzzer share the
// framing without the peer linking the runner.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orv::runner::protocol {

// The body of `vell_version`, the first message the runner sends.
inline constexpr std::string_view version = "0.13.0";

inline constexpr std::size_t header_size = 8;

// Messages from the runner to the peer. The message set also has tags 1 (`error_bundle`) and 2
// (`emit_bin_path`), which the runner never sends.
enum class RunnerTag : std::uint32_t { vell_version = 0, test_metadata = 3, test_results = 4 };

// Messages from the peer to the runner. `update`, `run` and `hot_update` are not served.
enum class PeerTag : std::uint32_t {
  exit = 0,
  update = 1,
  run = 2,
  hot_update = 3,
  query_test_metadata = 4,
  run_test = 5,
};

struct Header {
  std::uint32_t tag = 0;
  std::uint32_t bytes_len = 0;
};

constexpr void storeU32(std::uint32_t value, std::span<std::byte, 4> out) noexcept {
  for (std::size_t i = 0; i < 4; ++i)
    out[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
}

constexpr std::uint32_t loadU32(std::span<const std::byte, 4> in) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= std::to_integer<std::uint32_t>(in[i]) << (8 * i);
  return value;
}

constexpr std::array<std::byte, header_size> encodeHeader(Header header) noexcept {
  std::array<std::byte, header_size> bytes{};
  storeU32(header.tag, std::span(bytes).first<4>());
  storeU32(header.bytes_len, std::span(bytes).last<4>());
  return bytes;
}

constexpr Header decodeHeader(std::span<const std::byte, header_size> bytes) noexcept {
  return {loadU32(bytes.first<4>()), loadU32(bytes.last<4>())};
}

// Writes a whole message into `out`, which holds header_size + body.size() bytes: the header for
// `tag` and the body's length, then the body.
constexpr void encodeMessageInto(std::uint32_t tag, std::span<const std::byte> body,
                                 std::span<std::byte> out) noexcept {
  const auto header = encodeHeader({tag, static_cast<std::uint32_t>(body.size())});
  std::copy(header.begin(), header.end(), out.begin());
  std::copy(body.begin(), body.end(), out.begin() + header_size);
}

// A whole message of a fixed size, as an array.
template <typename Tag, std::size_t N>
constexpr std::array<std::byte, header_size + N> encodeMessage(
    Tag tag, std::span<const std::byte, N> body) noexcept {
  std::array<std::byte, header_size + N> message{};
  encodeMessageInto(static_cast<std::uint32_t>(tag), body, message);
  return message;
}

// The `flags` word of `test_results`: bit 0 failed, bit 1 skipped, bit 2 leaked, bits 3 to 31 the
// number of errors logged while the check ran, capped so that it fits.
inline constexpr std::uint32_t flag_failed = 1;
inline constexpr std::uint32_t flag_skipped = 2;
inline constexpr std::uint32_t flag_leaked = 4;
inline constexpr unsigned log_err_count_shift = 3;
inline constexpr std::uint32_t max_log_err_count = (std::uint32_t{1} << 29) - 1;

constexpr std::uint32_t testFlags(bool failed, bool skipped, bool leaked,
                                  std::uint64_t log_err_count) noexcept {
  const auto count = static_cast<std::uint32_t>(
      log_err_count < max_log_err_count ? log_err_count : max_log_err_count);
  return (failed ? flag_failed : 0u) | (skipped ? flag_skipped : 0u) | (leaked ? flag_leaked : 0u) |
         (count << log_err_count_shift);
}

}  // namespace orv::runner::protocol
