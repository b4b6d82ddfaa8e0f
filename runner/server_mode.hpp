// Server mode's request loop: a controlling peer lists the registry and runs single checks over
// framed messages on a byte channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_channel.hpp"
#include "registry.hpp"

namespace orv::runner {

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
