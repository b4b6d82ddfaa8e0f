#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> news{0};
}  // namespace

// This replacement pairs malloc with free itself; g++ sees only the operator names and would warn
// that operator new's pointer reaches free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orv::view::test {

std::size_t allocationsSoFar() noexcept { return news.load(std::memory_order_relaxed); }

}  // namespace orv::view::test
