// Server mode: the request loop over an abstract byte channel, and the file-descriptor channel
// that `serve` runs it on (standard input and output).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "runner.hpp"

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

// How the request loop ended.
enum class ServerEnd : std::uint8_t {
  exit_requested,       // the peer sent `exit`
  unsupported_message,  // a tag the runner does not serve (`detail`: the tag)
  peer_hung_up,         // the input ended where a message would begin
  truncated_message,    // the input ended inside a header or a body
  short_run_test,       // a `run_test` body too short to hold an index (`detail`: its length)
  index_out_of_range,   // a `run_test` index past the registry (`detail`: the index)
  metadata_too_large,   // the registry's names do not fit one message
  metadata_leak,        // memory was left after answering `query_test_metadata`
  channel_failed,       // a read or a write failed
};

struct ServerResult {
  ServerEnd end = ServerEnd::exit_requested;
  std::uint32_t detail = 0;
};

// Sends `vell_version`, then answers requests from `in` on `out` until one of the ends above. The
// loop never exits or aborts the process itself: `finishServing` decides what an end means.
ServerResult serveMessages(Registry registry, ByteSource& in, ByteSink& out);

// What an end means for the process: writes its diagnostic to standard error and returns the exit
// status, or stops the process with a fatal stop.
int finishServing(ServerResult result, std::size_t registry_size);

}  // namespace orv::runner
