#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <system_error>
#include <thread>

extern char** environ;  // NOLINT: POSIX declares it nowhere else

namespace orv::peer {
namespace {

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd) noexcept {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// This process's environment with `overrides` (NAME=VALUE) replacing or adding entries.
std::vector<std::string> environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view current = *entry;
    const std::string_view name = current.substr(0, current.find('=') + 1);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(), [&](const auto& o) {
      return std::string_view(o).starts_with(name);
    });
    if (!replaced) env.emplace_back(current);
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

// Pointers to the strings' characters, ended by a null pointer, as exec wants them.
std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings)
    out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// A pseudo-terminal as {reading end, the child's end}: raw mode, so that the bytes arrive as the
// child writes them (no "\n" → "\r\n"), and 120 columns wide.
bool openTerminal(std::array<int, 2>& ends) {
  termios raw{};
  ::cfmakeraw(&raw);
  winsize size{};
  size.ws_col = 120;
  size.ws_row = 40;
  if (::openpty(&ends[0], &ends[1], nullptr, &raw, &size) != 0) return false;
  return ::fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && ::fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0;
}

using Clock = std::chrono::steady_clock;

std::optional<Clock::time_point> deadlineAfter(Timeout timeout) {
  if (!timeout) return std::nullopt;
  return Clock::now() + *timeout;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
  static const bool sigpipe_ignored = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
  static_cast<void>(sigpipe_ignored);

  std::array<int, 2> in{-1, -1};
  std::array<int, 2> out{-1, -1};
  std::array<int, 2> err{-1, -1};
  const auto close_all = [&] {
    for (auto* p : {&in, &out, &err}) {
      closeFd((*p)[0]);
      closeFd((*p)[1]);
    }
  };
  if (::pipe2(in.data(), O_CLOEXEC) != 0 || ::pipe2(out.data(), O_CLOEXEC) != 0 ||
      (options.stderr_to == Stderr::captured && ::pipe2(err.data(), O_CLOEXEC) != 0) ||
      (options.stderr_to == Stderr::terminal && !openTerminal(err))) {
    const int error = errno;
    close_all();
    throw std::system_error(error, std::generic_category(), "pipe2 or openpty");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (err[1] >= 0) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // The child starts with SIGPIPE at its default, whatever this process did with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment(options.env);
  const std::vector<char*> arg_pointers = pointers(args);
  const std::vector<char*> env_pointers = pointers(env);
  const int rc = ::posix_spawn(&pid_, args.at(0).c_str(), &actions, &attributes,
                               arg_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    close_all();
    throw std::system_error(rc, std::generic_category(), "cannot start " + argv.at(0));
  }

  closeFd(in[0]);
  closeFd(out[1]);
  closeFd(err[1]);
  in_fd_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  // Writes go through poll, so that a child that stops reading never blocks this process.
  if (::fcntl(in_fd_, F_SETFL, ::fcntl(in_fd_, F_GETFL) | O_NONBLOCK) != 0) throwErrno("fcntl");
}

ChildProcess::~ChildProcess() {
  closeFd(in_fd_);
  closeFd(out_fd_);
  closeFd(err_fd_);
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

template <typename Done>
bool ChildProcess::pump(Done done, std::optional<Clock::time_point> deadline,
                        std::span<const std::byte>* input) {
  std::array<char, 4096> buffer{};
  for (;;) {
    if (done()) return true;
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    if (out_fd_ >= 0) fds[count++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[count++] = {err_fd_, POLLIN, 0};
    if (input != nullptr && in_fd_ >= 0 && !input->empty()) fds[count++] = {in_fd_, POLLOUT, 0};
    if (count == 0) return false;

    int wait_ms = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) return false;
      wait_ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
    }
    if (::poll(fds.data(), count, wait_ms) < 0) {
      if (errno == EINTR) continue;
      throwErrno("poll");
    }

    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd_) {
        const ssize_t n = ::write(in_fd_, input->data(), input->size());
        if (n >= 0) {
          *input = input->subspan(static_cast<std::size_t>(n));
        } else if (errno != EINTR && errno != EAGAIN) {
          return false;  // the child closed its input
        }
        continue;
      }
      const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        closeFd(fds[i].fd == out_fd_ ? out_fd_ : err_fd_);
      } else if (fds[i].fd == out_fd_) {
        const auto* bytes = reinterpret_cast<const std::byte*>(buffer.data());
        out_.insert(out_.end(), bytes, bytes + n);
      } else {
        err_.append(buffer.data(), static_cast<std::size_t>(n));
      }
    }
  }
}

bool ChildProcess::write(std::span<const std::byte> bytes, Timeout timeout) {
  if (in_fd_ < 0) return bytes.empty();
  return pump([&] { return bytes.empty(); }, deadlineAfter(timeout), &bytes);
}

void ChildProcess::closeInput() { closeFd(in_fd_); }

void ChildProcess::closeOutput() { closeFd(out_fd_); }

void ChildProcess::kill() noexcept {
  if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
}

void ChildProcess::terminate() noexcept {
  if (pid_ > 0 && !status_) ::kill(pid_, SIGTERM);
}

std::vector<std::byte> ChildProcess::read(std::size_t n, Timeout timeout) {
  pump([&] { return out_.size() >= n || out_fd_ < 0; }, deadlineAfter(timeout));
  const std::size_t taken = std::min(n, out_.size());
  std::vector<std::byte> bytes(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(taken));
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(taken));
  return bytes;
}

std::optional<int> ChildProcess::wait(Timeout timeout) {
  if (status_) return status_;
  const auto deadline = deadlineAfter(timeout);
  // Both outputs end when the child does (it starts no processes of its own).
  pump([&] { return out_fd_ < 0 && err_fd_ < 0; }, deadline);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, deadline ? WNOHANG : 0);
    if (done == pid_) {
      status_ = status;
      return status_;
    }
    if (done < 0 && errno != EINTR) throwErrno("waitpid");
    if (deadline && Clock::now() >= *deadline) return std::nullopt;
    if (deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Completed runToCompletion(const std::vector<std::string>& argv,
                          const ChildProcess::Options& options, std::chrono::milliseconds timeout) {
  ChildProcess child(argv, options);
  child.closeInput();
  std::optional<int> status = child.wait(timeout);
  if (!status) {
    child.kill();
    status = child.wait();
  }
  Completed completed;
  const std::vector<std::byte>& out = child.pendingOutput();
  completed.out.assign(reinterpret_cast<const char*>(out.data()), out.size());
  completed.err = child.errorOutput();
  if (WIFEXITED(*status)) completed.exit_code = WEXITSTATUS(*status);
  if (WIFSIGNALED(*status)) completed.signal = WTERMSIG(*status);
  return completed;
}

}  // namespace orv::peer
