// Standard error under one lock, and the log sink.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <limits>
#include <string>

#include "check.hpp"

namespace orv::check {
namespace {

std::mutex g_stderr_mutex;
StderrOverlay g_overlay;
std::atomic<std::uint64_t> g_log_err_count{0};
std::atomic<LogLevel> g_log_level{LogLevel::warn};

}  // namespace

std::unique_lock<std::mutex> lockStderr() { return std::unique_lock{g_stderr_mutex}; }

void writeStderrLocked(std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // Standard error is gone (closed pipe, full disk): nothing better to do.
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void writeStderr(std::string_view bytes) noexcept {
  const auto lock = lockStderr();
  if (g_overlay.clear != nullptr) g_overlay.clear(g_overlay.context);
  writeStderrLocked(bytes);
}

void setStderrOverlayLocked(StderrOverlay overlay) noexcept { g_overlay = overlay; }

std::string_view logLevelName(LogLevel level) noexcept {
  switch (level) {
    case LogLevel::err:
      return "err";
    case LogLevel::warn:
      return "warn";
    case LogLevel::info:
      return "info";
    case LogLevel::debug:
      return "debug";
  }
  return "unknown";
}

void log(LogLevel level, std::string_view scope, std::string_view message) noexcept {
  if (level == LogLevel::err) {
    std::uint64_t count = g_log_err_count.load();
    while (count != std::numeric_limits<std::uint64_t>::max() &&
           !g_log_err_count.compare_exchange_weak(count, count + 1)) {
    }
  }
  if (level > g_log_level.load()) return;
  std::string line;
  line.reserve(scope.size() + message.size() + 16);
  line.append("[").append(scope).append("] (").append(logLevelName(level)).append("): ");
  line.append(message).append("\n");
  writeStderr(line);
}

std::uint64_t logErrCount() noexcept { return g_log_err_count.load(); }
void resetLogErrCount() noexcept { g_log_err_count.store(0); }
LogLevel logLevel() noexcept { return g_log_level.load(); }
void setLogLevel(LogLevel level) noexcept { g_log_level.store(level); }

}  // namespace orv::check
