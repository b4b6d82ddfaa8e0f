#include "wire.hpp"

#include <algorithm>
#include <stdexcept>

#include "protocol.hpp"

namespace orv::peer {
namespace {

std::uint32_t u32At(std::span<const std::byte> bytes, std::size_t offset) {
  return runner::protocol::loadU32(bytes.subspan(offset).first<4>());
}

}  // namespace

std::vector<std::byte> encodeMessage(std::uint32_t tag, std::span<const std::byte> body) {
  std::vector<std::byte> message(runner::protocol::header_size + body.size());
  runner::protocol::encodeMessageInto(tag, body, message);
  return message;
}

std::vector<std::byte> runTestMessage(std::uint32_t index) {
  std::array<std::byte, 4> body{};
  runner::protocol::storeU32(index, body);
  return encodeMessage(static_cast<std::uint32_t>(runner::protocol::PeerTag::run_test), body);
}

std::optional<Message> receiveMessage(ChildProcess& child, Timeout timeout,
                                      std::uint32_t max_body) {
  const std::vector<std::byte> raw = child.read(runner::protocol::header_size, timeout);
  if (raw.size() != runner::protocol::header_size) return std::nullopt;
  const auto header =
      runner::protocol::decodeHeader(std::span(raw).first<runner::protocol::header_size>());
  if (header.bytes_len > max_body) return std::nullopt;
  Message message{header.tag, child.read(header.bytes_len, timeout)};
  if (message.body.size() != header.bytes_len) return std::nullopt;
  return message;
}

std::vector<std::string> parseTestMetadata(std::span<const std::byte> body) {
  if (body.size() < 8) throw std::runtime_error("test_metadata body shorter than its counts");
  const std::uint64_t string_bytes_len = u32At(body, 0);
  const std::uint64_t tests_len = u32At(body, 4);
  if (body.size() != 8 + 8 * tests_len + string_bytes_len) {
    throw std::runtime_error("test_metadata body length disagrees with its counts");
  }
  const auto strings = body.last(string_bytes_len);
  if (strings.empty() || strings[0] != std::byte{0}) {
    throw std::runtime_error("test_metadata string bytes do not start with a zero byte");
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < tests_len; ++i) {
    const std::size_t offset = u32At(body, 8 + 4 * i);
    if (u32At(body, 8 + 4 * (tests_len + i)) != 0) {
      throw std::runtime_error("test_metadata has an expected-panic message");
    }
    if (offset == 0 || offset >= strings.size()) {
      throw std::runtime_error("test_metadata name offset outside the string bytes");
    }
    const auto name = strings.subspan(offset);
    const auto end = std::find(name.begin(), name.end(), std::byte{0});
    if (end == name.end()) throw std::runtime_error("test_metadata name without its zero byte");
    names.emplace_back(reinterpret_cast<const char*>(name.data()),
                       static_cast<std::size_t>(end - name.begin()));
  }
  return names;
}

}  // namespace orv::peer
