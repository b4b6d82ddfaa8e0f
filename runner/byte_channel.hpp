// The byte channel that server mode reads requests from and writes replies to, and its
// file-descriptor ends (standard input and output in orv-selfcheck).
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace orv::runner {

// Where requests come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads at least one and at most `out.size()` bytes (`out` is never empty) and returns how many;
  // 0 means the input has ended, nullopt that the channel failed.
  virtual std::optional<std::size_t> read(std::span<std::byte> out) = 0;
};

// Where replies go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes`; false when the channel failed.
  virtual bool write(std::span<const std::byte> bytes) = 0;
};

// A file descriptor as either end. Interrupted calls are retried, short reads and writes
// continued, and a descriptor that would block is waited for.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) noexcept : fd_(fd) {}
  std::optional<std::size_t> read(std::span<std::byte> out) override;

 private:
  int fd_;
};

class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) noexcept : fd_(fd) {}
  bool write(std::span<const std::byte> bytes) override;

 private:
  int fd_;
};

}  // namespace orv::runner
