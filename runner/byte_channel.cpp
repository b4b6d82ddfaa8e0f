#include "byte_channel.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace orv::runner {
namespace {

// Waits until `fd` is ready for `events`.
bool waitReady(int fd, short events) {
  pollfd target{fd, events, 0};
  for (;;) {
    if (::poll(&target, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

std::optional<std::size_t> FdSource::read(std::span<std::byte> out) {
  for (;;) {
    const ssize_t n = ::read(fd_, out.data(), out.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (wouldBlock(errno) && waitReady(fd_, POLLIN)) continue;
    return std::nullopt;
  }
}

bool FdSink::write(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (wouldBlock(errno) && waitReady(fd_, POLLOUT)) continue;
    return false;
  }
  return true;
}

}  // namespace orv::runner
