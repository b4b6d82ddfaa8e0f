// The peer's side of the runner's framed messages (the framing itself is in runner/protocol.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace orv::peer {

struct Message {
  std::uint32_t tag = 0;
  std::vector<std::byte> body;
};

// The 8-byte header and `body`.
std::vector<std::byte> encodeMessage(std::uint32_t tag, std::span<const std::byte> body = {});
// A `run_test` request for `index`.
std::vector<std::byte> runTestMessage(std::uint32_t index);

// Reads one message from the child's standard output. No value when the output ended or the time
// ran out first, or when the body would be longer than `max_body`.
std::optional<Message> receiveMessage(ChildProcess& child, Timeout timeout = std::nullopt,
                                      std::uint32_t max_body = std::uint32_t{1} << 24);

// The check names of a `test_metadata` body, in registry order. Throws std::runtime_error naming
// the first way in which the body breaks the layout.
std::vector<std::string> parseTestMetadata(std::span<const std::byte> body);

}  // namespace orv::peer
