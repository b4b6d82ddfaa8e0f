// Server-mode messages built byte by byte, independently of the runner's own encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace orv::test {

using Bytes = std::vector<std::uint8_t>;

inline void putU32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline std::uint32_t u32At(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= std::uint32_t{bytes.at(at + i)} << (8 * i);
  return value;
}

inline Bytes header(std::uint32_t tag, std::uint32_t bytes_len) {
  Bytes out;
  putU32(out, tag);
  putU32(out, bytes_len);
  return out;
}

inline Bytes message(std::uint32_t tag, const Bytes& body = {}) {
  Bytes out = header(tag, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// `run_test` of `index`, its body followed by `surplus` bytes.
inline Bytes runTest(std::uint32_t index, const Bytes& surplus = {}) {
  Bytes body;
  putU32(body, index);
  body.insert(body.end(), surplus.begin(), surplus.end());
  return message(5, body);
}

// The `test_results` reply.
inline Bytes results(std::uint32_t index, std::uint32_t flags) {
  Bytes body;
  putU32(body, index);
  putU32(body, flags);
  return message(4, body);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The `vell_version` announcement, the first bytes a server writes.
inline const Bytes version = {0, 0, 0, 0, 6, 0, 0, 0, '0', '.', '1', '3', '.', '0'};
inline const Bytes exit_message = message(0);
inline const Bytes query = message(4);

}  // namespace orv::test
