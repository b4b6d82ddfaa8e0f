#include "progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "orv/check.hpp"

namespace orv::runner {
namespace {

constexpr auto draw_interval = std::chrono::milliseconds(50);
constexpr std::string_view clear_line = "\r\x1b[K";

std::size_t terminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::string_view root, std::size_t total)
    : root_(root), total_(total) {
  {
    const auto lock = check::lockStderr();
    check::setStderrOverlayLocked({&ProgressDisplay::clearLocked, this});
  }
  thread_ = std::thread([this] { loop(); });
}

ProgressDisplay::~ProgressDisplay() {
  {
    const std::lock_guard lock(state_mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  const auto lock = check::lockStderr();
  clearLocked(this);
  check::setStderrOverlayLocked({});
}

void ProgressDisplay::begin(std::string_view name) {
  const std::lock_guard lock(state_mutex_);
  current_ = name;
}

void ProgressDisplay::end() {
  const std::lock_guard lock(state_mutex_);
  ++completed_;
  current_.clear();
}

void ProgressDisplay::loop() {
  std::unique_lock lock(state_mutex_);
  while (!wake_.wait_for(lock, draw_interval, [this] { return stopping_; })) {
    std::string line =
        root_ + " [" + std::to_string(completed_) + "/" + std::to_string(total_) + "] " + current_;
    lock.unlock();
    const auto stderr_lock = check::lockStderr();
    // Never let the line wrap: a wrapped line could not be cleared with one carriage return.
    const std::size_t width = terminalWidth() - 1;
    if (line.size() > width) {
      line.resize(width);
      while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0U) == 0x80U) {
        line.pop_back();  // a UTF-8 continuation byte: drop the cut character entirely
      }
      if (!line.empty() && (static_cast<unsigned char>(line.back()) & 0x80U) != 0) line.pop_back();
    }
    check::writeStderrLocked(std::string(clear_line) + line);
    drawn_ = true;
    lock.lock();
  }
}

void ProgressDisplay::clearLocked(void* self) {
  auto* display = static_cast<ProgressDisplay*>(self);
  if (!display->drawn_) return;
  check::writeStderrLocked(clear_line);
  display->drawn_ = false;
}

}  // namespace orv::runner
