#include "support/subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace orv::test {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed");
}

// Reads both descriptors until each reaches end of file (EIO on a pty master means the same).
void drain(int out_fd, int err_fd, ProcessResult& result, pid_t pid, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 4096> buffer{};
      const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (n > 0) {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  std::array<int, 2> out_pipe{};
  std::array<int, 2> err_pipe{};
  check(::pipe2(out_pipe.data(), O_CLOEXEC) == 0, "pipe");
  int err_parent = -1;
  int err_child = -1;
  if (options.stderr_on_terminal) {
    termios raw{};
    ::cfmakeraw(&raw);  // no "\n" → "\r\n" translation: the bytes arrive as written
    winsize size{};
    size.ws_col = 120;
    size.ws_row = 40;
    check(::openpty(&err_parent, &err_child, nullptr, &raw, &size) == 0, "openpty");
    ::fcntl(err_parent, F_SETFD, FD_CLOEXEC);
    ::fcntl(err_child, F_SETFD, FD_CLOEXEC);
  } else {
    check(::pipe2(err_pipe.data(), O_CLOEXEC) == 0, "pipe");
    err_parent = err_pipe[0];
    err_child = err_pipe[1];
  }

  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_child, STDERR_FILENO);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, STDIN_FILENO);
    for (const std::string& e : options.env)
      ::putenv(const_cast<char*>(e.c_str()));
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_child);

  ProcessResult result;
  drain(out_pipe[0], err_parent, result, pid, options.timeout_ms);
  ::close(out_pipe[0]);
  ::close(err_parent);

  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace orv::test
