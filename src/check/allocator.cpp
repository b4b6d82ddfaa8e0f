// The checking allocator: every live block is recorded with the stack trace of its allocation.
#include <execinfo.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "check.hpp"

namespace orv::check {
namespace {

constexpr int max_frames = 16;

struct Block {
  std::size_t bytes = 0;
  std::size_t alignment = 0;
  std::uint64_t sequence = 0;  // allocation order, so that leak reports come out in that order
  std::array<void*, max_frames> frames{};
  int frame_count = 0;
};

std::string hexAddress(const void* p) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "0x%" PRIxPTR, reinterpret_cast<std::uintptr_t>(p));
  return buffer.data();
}

}  // namespace

// The bookkeeping lives on the ordinary heap, apart from the blocks it describes.
struct CheckingAllocator::Table {
  std::unordered_map<void*, Block> live;
  std::uint64_t next_sequence = 0;
};

CheckingAllocator::CheckingAllocator() : table_(new Table) {}

CheckingAllocator::~CheckingAllocator() {
  reset();
  delete table_;
}

void CheckingAllocator::reset() noexcept {
  for (const auto& [p, block] : table_->live) {
    ::operator delete (p, std::align_val_t{block.alignment});
  }
  table_->live.clear();
  table_->next_sequence = 0;
}

bool CheckingAllocator::teardown() noexcept {
  std::vector<std::pair<void*, const Block*>> leaked;
  leaked.reserve(table_->live.size());
  for (const auto& [p, block] : table_->live)
    leaked.emplace_back(p, &block);
  std::sort(leaked.begin(), leaked.end(),
            [](const auto& a, const auto& b) { return a.second->sequence < b.second->sequence; });
  for (const auto& [p, block] : leaked) {
    std::string message = "memory address " + hexAddress(p) + " leaked: \n";
    appendFrames(message, block->frames.data(), block->frame_count);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    log(LogLevel::err, "gpa", message);
  }
  reset();
  return !leaked.empty();
}

std::size_t CheckingAllocator::liveBlocks() const noexcept { return table_->live.size(); }

void* CheckingAllocator::do_allocate(std::size_t bytes, std::size_t alignment) {
  void* p = ::operator new (bytes, std::align_val_t{alignment});
  Block block{bytes, alignment, table_->next_sequence++, {}, 0};
  // Leave out this frame: the trace starts where memory_resource::allocate was called.
  std::array<void*, max_frames + 1> frames{};
  const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
  block.frame_count = std::max(0, count - 1);
  std::copy_n(frames.begin() + 1, block.frame_count, block.frames.begin());
  table_->live.emplace(p, block);
  return p;
}

void CheckingAllocator::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
  const auto it = table_->live.find(p);
  if (it == table_->live.end()) {
    log(LogLevel::err, "gpa", "Invalid free or double free of memory address " + hexAddress(p));
    return;
  }
  const Block block = it->second;
  if (block.bytes != bytes || block.alignment != alignment) {
    log(LogLevel::err, "gpa",
        "Allocation size " + std::to_string(block.bytes) + " and alignment " +
            std::to_string(block.alignment) + " freed as size " + std::to_string(bytes) +
            " and alignment " + std::to_string(alignment) + " at " + hexAddress(p));
  }
  table_->live.erase(it);
  ::operator delete (p, std::align_val_t{block.alignment});
}

bool CheckingAllocator::do_is_equal(const std::pmr::memory_resource& other) const noexcept {
  return this == &other;
}

CheckingAllocator& allocator() noexcept {
  static CheckingAllocator instance;
  return instance;
}

}  // namespace orv::check
