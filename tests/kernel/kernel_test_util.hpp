// Shared helpers of the kernel tests: bit-level comparison and readable printing.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "orv/kernel.hpp"

namespace orv {

inline void PrintTo(const HomVec4& v, std::ostream* os) {
  *os << std::setprecision(17) << '(' << v.x << ", " << v.y << ", " << v.z << ", " << v.w << ')';
}

inline void PrintTo(const PGL4& m, std::ostream* os) {
  *os << std::setprecision(17) << "rows";
  for (unsigned r = 0; r < 4; ++r) {
    *os << " (" << m.get(r, 0) << ", " << m.get(r, 1) << ", " << m.get(r, 2) << ", " << m.get(r, 3)
        << ')';
  }
}

}  // namespace orv

namespace orv::test {

inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }
inline std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

// Equal to the last bit, telling +0 from −0 (and comparing NaNs by pattern).
inline bool sameBits(const PGL4& a, const PGL4& b) {
  return std::memcmp(a.data.data(), b.data.data(), sizeof a.data) == 0;
}
inline bool samePointBits(const HomVec4& a, const HomVec4& b) {
  return bits(a.x) == bits(b.x) && bits(a.y) == bits(b.y) && bits(a.z) == bits(b.z) &&
         bits(a.w) == bits(b.w);
}

inline PGL4 diag(double a, double b, double c, double d) {
  PGL4 m;
  m.set(0, 0, a);
  m.set(1, 1, b);
  m.set(2, 2, c);
  m.set(3, 3, d);
  return m;
}

}  // namespace orv::test
