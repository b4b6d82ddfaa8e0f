// Internals of orv::webgpu's FrameReadback, shared with the picture renderer that fills it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "device_state.hpp"
#include "orv/webgpu.hpp"

namespace orv::webgpu::detail {

// One buffer of the ring and the frame it holds while its map is under way or done.
struct ReadbackSlot {
  Buffer buffer;
  std::uint64_t capacity = 0;  // bytes of `buffer`
  std::uint32_t width = 0;     // of the frame it holds
  std::uint32_t height = 0;
  std::uint32_t padded_row = 0;
  bool bgra = false;
  std::uint64_t tag = 0;
  WGPUFuture future{};  // of the map under way (id 0: none)
  MapResult result;

  std::size_t bytes() const noexcept { return std::size_t{padded_row} * height; }
};

struct TargetState;

struct ReadbackState {
  std::shared_ptr<DeviceState> device;
  // Made once at the ring's depth and never resized: the map callbacks point into it.
  std::vector<ReadbackSlot> slots;
  std::uint32_t oldest = 0;  // index of the oldest pending frame
  std::uint32_t pending = 0;

  ReadbackState() = default;
  ReadbackState(const ReadbackState&) = delete;
  ReadbackState& operator=(const ReadbackState&) = delete;
  ~ReadbackState();

  // The slot the next frame, drawn into `target` and tagged `tag`, goes into, with a buffer that
  // holds it (the ring must not be full).
  Expected<ReadbackSlot*> claim(const TargetState& target, std::uint64_t tag);
  // Starts mapping `slot` (claimed, its copy submitted) and counts its frame as pending.
  void startMap(ReadbackSlot& slot);
  Expected<std::optional<std::uint64_t>> take(Image& out, bool wait);
};

}  // namespace orv::webgpu::detail
