// Every allocation through operator new in the test program that links allocation_count.cpp is
// counted, so that a test can assert that a stretch of code made none.
#pragma once

#include <cstddef>

namespace orv::view::test {

// Allocations through operator new since the program started.
std::size_t allocationsSoFar() noexcept;

}  // namespace orv::view::test
