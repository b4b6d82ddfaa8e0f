#include "progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "check.hpp"

namespace orv::runner {
namespace {

constexpr auto draw_interval = std::chrono::milliseconds(50);
constexpr std::string_view clear_line = "\r\x1b[K";

// Whether a progress line stands on the terminal. Written under the standard-error lock; read
// without it by the fault handler, which cannot take locks.
std::atomic<bool> g_line_drawn{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

// Cuts `line` to at most `width` bytes without splitting a UTF-8 character.
void truncateUtf8(std::string& line, std::size_t width) {
  if (line.size() <= width) return;
  std::size_t end = width;
  // line[end] is the first byte left out; if it continues a character, leave that character out.
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0U) == 0x80U)
    --end;
  line.resize(end);
}

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
    truncateUtf8(line, terminalWidth() - 1);
    check::writeStderrLocked(std::string(clear_line) + line);
    g_line_drawn = true;
    lock.lock();
  }
}

void ProgressDisplay::clearLocked(void* /*self*/) {
  if (!g_line_drawn) return;
  check::writeStderrLocked(clear_line);
  g_line_drawn = false;
}

bool progressLineDrawn() noexcept { return g_line_drawn; }

}  // namespace orv::runner
