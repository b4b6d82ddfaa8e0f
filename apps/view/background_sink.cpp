#include "view/background_sink.hpp"

#include <cstring>
#include <utility>

namespace orv::view {

BackgroundSink::BackgroundSink(FrameSink& inner, WhenBehind when_behind, std::size_t slots)
    : inner_(inner), when_behind_(when_behind), slots_(slots > 0 ? slots : 1) {
  worker_ = std::thread([this] { work(); });
}

BackgroundSink::~BackgroundSink() { stop(); }

void BackgroundSink::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  filled_.notify_all();
  if (worker_.joinable()) worker_.join();
}

Status BackgroundSink::failure() {
  const std::lock_guard lock(mutex_);
  if (error_) return *error_;
  return {};
}

Status BackgroundSink::frame(const FinishedFrame& frame) {
  if (frame.image.width == 0) return failure();
  std::unique_lock lock(mutex_);
  if (error_) return *error_;
  if (waiting_ == slots_.size()) {
    if (when_behind_ == WhenBehind::drop) {
      ++dropped_;
      return {};
    }
    freed_.wait(lock, [&] { return waiting_ < slots_.size() || error_.has_value(); });
    if (error_) return *error_;
  }
  Slot& slot = slots_[(oldest_ + waiting_) % slots_.size()];
  lock.unlock();
  // The slot is the producer's until it is counted as waiting.
  const ImageView& image = frame.image;
  const std::size_t row = std::size_t{4} * image.width;
  slot.pixels.resize(row * image.height);
  for (std::uint32_t y = 0; y < image.height; ++y)
    std::memcpy(slot.pixels.data() + y * row, image.rgba.data() + y * image.stride, row);
  slot.frame = {frame.index, frame.time, {image.width, image.height, row, slot.pixels}};
  lock.lock();
  ++waiting_;
  ++queued_;
  lock.unlock();
  filled_.notify_one();
  return {};
}

void BackgroundSink::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    filled_.wait(lock, [&] { return waiting_ > 0 || stopping_; });
    if (stopping_) return;
    Slot& slot = slots_[oldest_];
    lock.unlock();
    Status written = inner_.frame(slot.frame);
    lock.lock();
    oldest_ = (oldest_ + 1) % slots_.size();
    --waiting_;
    if (!written && !error_) error_ = written.error();
    freed_.notify_all();
  }
}

Status BackgroundSink::finish() {
  {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return waiting_ == 0; });
  }
  stop();
  if (Status ok = failure(); !ok) return ok;
  return inner_.finish();
}

}  // namespace orv::view
