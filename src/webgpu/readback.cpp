// Pictures read back through a ring of buffers, each mapped while later frames are drawn.
#include <string>
#include <utility>

#include "orv/webgpu.hpp"
#include "readback_state.hpp"
#include "target_state.hpp"

namespace orv::webgpu {
namespace detail {

ReadbackState::~ReadbackState() {
  if (!device) return;
  // A map still under way is cancelled by unmapping; its callback must have run before the slot
  // it writes into goes away.
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(device->timeout).count();
  for (ReadbackSlot& slot : slots) {
    if (slot.future.id == 0 || slot.result.done) continue;
    wgpuBufferUnmap(slot.buffer.get());
    WGPUFutureWaitInfo info{slot.future, 0};
    wgpuInstanceWaitAny(device->instance.get(), 1, &info, static_cast<std::uint64_t>(ns));
  }
}

Expected<ReadbackSlot*> ReadbackState::claim(const TargetState& target, std::uint64_t tag) {
  if (pending == slots.size()) {
    return Error{ErrorStep::argument, "the read-back ring is full: take a frame first"};
  }
  ReadbackSlot& slot = slots[(oldest + pending) % slots.size()];
  const std::uint64_t bytes = std::uint64_t{target.padded_row} * target.height;
  if (!slot.buffer || slot.capacity < bytes) {
    Expected<Buffer> made = device->createBuffer(
        "picture read-back ring", WGPUBufferUsage_MapRead | WGPUBufferUsage_CopyDst, bytes);
    if (!made) return made.error();
    slot.buffer = std::move(*made);
    slot.capacity = bytes;
  }
  slot.width = target.width;
  slot.height = target.height;
  slot.padded_row = target.padded_row;
  slot.bgra = target.bgra();
  slot.tag = tag;
  return &slot;
}

void ReadbackState::startMap(ReadbackSlot& slot) {
  slot.future = device->startMap(slot.buffer.get(), slot.bytes(), slot.result,
                                 WGPUCallbackMode_AllowProcessEvents);
  ++pending;
}

Expected<std::optional<std::uint64_t>> ReadbackState::take(Image& out, bool wait) {
  if (pending == 0) return std::optional<std::uint64_t>{};
  ReadbackSlot& slot = slots[oldest];
  if (!slot.result.done) {
    if (wait) {
      if (Status waited = device->wait(slot.future, "a picture to come back"); !waited) {
        return waited.error();
      }
    } else {
      wgpuInstanceProcessEvents(device->instance.get());
    }
    if (!slot.result.done) return std::optional<std::uint64_t>{};
  }
  // The frame leaves the ring whatever became of its map.
  oldest = (oldest + 1) % static_cast<std::uint32_t>(slots.size());
  --pending;
  slot.future = {};
  if (Status ok = device->readMapped(slot.buffer.get(), slot.bytes(), slot.result,
                                     [&](const void* data) {
                                       copyPicture(data, slot.width, slot.height, slot.padded_row,
                                                   slot.bgra, out);
                                     });
      !ok) {
    return ok.error();
  }
  return std::optional<std::uint64_t>{slot.tag};
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

FrameReadback::FrameReadback(std::unique_ptr<detail::ReadbackState> state) noexcept
    : state_(std::move(state)) {}
FrameReadback::FrameReadback(FrameReadback&&) noexcept = default;
FrameReadback& FrameReadback::operator=(FrameReadback&&) noexcept = default;
FrameReadback::~FrameReadback() = default;

std::uint32_t FrameReadback::depth() const noexcept {
  return static_cast<std::uint32_t>(state_->slots.size());
}
std::uint32_t FrameReadback::pending() const noexcept { return state_->pending; }

Expected<FrameReadback> FrameReadback::create(Device& device, std::uint32_t depth) {
  using namespace detail;
  Expected<std::shared_ptr<DeviceState>> live = DeviceAccess::live(device);
  if (!live) return live.error();
  if (depth == 0 || depth > 16) {
    return Error{ErrorStep::argument,
                 "a read-back ring of " + std::to_string(depth) + " buffers (1 to 16)"};
  }
  auto state = std::make_unique<ReadbackState>();
  state->device = std::move(*live);
  state->slots.resize(depth);
  return FrameReadback(std::move(state));
}

Expected<std::optional<std::uint64_t>> FrameReadback::take(Image& out, bool wait) {
  return state_->take(out, wait);
}

}  // namespace orv::webgpu
