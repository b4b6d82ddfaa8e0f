// Fatal stops and the fault handlers. The handlers run on an alternate signal stack and use only
// async-signal-safe calls (write, backtrace_symbols_fd, abort).
#include "fatal.hpp"

#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <csignal>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check.hpp"
#include "progress.hpp"

namespace orv::runner {
namespace {

void writeAll(const char* bytes, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t n = ::write(STDERR_FILENO, bytes, size);
    if (n <= 0) return;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

// "0x" and the lower-case hexadecimal digits of `value`, without allocating.
std::size_t formatHex(std::uintptr_t value, char* out) noexcept {
  std::array<char, 2 * sizeof value> digits{};
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out[0] = '0';
  out[1] = 'x';
  for (std::size_t i = 0; i < count; ++i)
    out[2 + i] = digits[count - 1 - i];
  return 2 + count;
}

const char* faultMessage(int signal) noexcept {
  switch (signal) {
    case SIGSEGV:
      return "Segmentation fault at address ";
    case SIGILL:
      return "Illegal instruction at address ";
    case SIGBUS:
      return "Bus error at address ";
    default:
      return "Arithmetic exception at address ";
  }
}

void writeBacktrace() noexcept {
  std::array<void*, 64> frames{};
  const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
  ::backtrace_symbols_fd(frames.data(), count, STDERR_FILENO);
}

void onFault(int signal, siginfo_t* info, void* /*context*/) {
  // The report starts a line of its own, not the tail of a progress drawing.
  if (progressLineDrawn()) writeAll("\r\x1b[K", 4);
  std::array<char, 96> line{};
  const char* message = faultMessage(signal);
  std::size_t size = std::strlen(message);
  std::memcpy(line.data(), message, size);
  size += formatHex(reinterpret_cast<std::uintptr_t>(info->si_addr), line.data() + size);
  line[size++] = '\n';
  writeAll(line.data(), size);
  writeBacktrace();
  std::abort();
}

void onPipe(int /*signal*/) {}

// Room to report a fault that happened because the thread's own stack ran out.
alignas(16) std::array<char, 1 << 16> g_alternate_stack;

}  // namespace

void fatalStop(std::string_view message) noexcept {
  std::string text = "thread " + std::to_string(::syscall(SYS_gettid)) + " panic: ";
  text.append(message);
  text += '\n';
  check::appendStackTrace(text, 1);
  check::writeStderr(text);
  std::abort();
}

void installFaultHandlers() noexcept {
  // The first backtrace loads the unwinder, which allocates: do it now, not in a handler.
  std::array<void*, 1> warm_up{};
  ::backtrace(warm_up.data(), 1);

  stack_t stack{};
  stack.ss_sp = g_alternate_stack.data();
  stack.ss_size = g_alternate_stack.size();
  ::sigaltstack(&stack, nullptr);

  struct sigaction fault {};
  fault.sa_sigaction = onFault;
  fault.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_RESETHAND);
  sigemptyset(&fault.sa_mask);
  for (const int signal : {SIGSEGV, SIGILL, SIGBUS, SIGFPE})
    ::sigaction(signal, &fault, nullptr);

  struct sigaction pipe {};
  pipe.sa_handler = onPipe;
  sigemptyset(&pipe.sa_mask);
  ::sigaction(SIGPIPE, &pipe, nullptr);
}

}  // namespace orv::runner
