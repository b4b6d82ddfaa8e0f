// A child process driven through pipes: its standard input is written, its standard output and
// standard error collected (standard error from a pipe or a pseudo-terminal, or shared with this
// process), every wait bounded by an optional time limit. orv-peer talks to a server through it,
// and the end-to-end tests run the executables with it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv::peer {

// No value: wait as long as it takes.
using Timeout = std::optional<std::chrono::milliseconds>;

// Where the child's standard error goes.
enum class Stderr : std::uint8_t {
  captured,  // a pipe, collected
  terminal,  // a pseudo-terminal in raw mode (120 columns), collected as written
  inherited  // this process's standard error
};

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> env;  // NAME=VALUE entries that override this process's environment
    Stderr stderr_to = Stderr::captured;
  };

  // Starts the program at path argv[0] with the arguments `argv`; throws std::system_error when
  // it cannot. SIGPIPE is ignored in this process from then on, so a closed pipe is an error value.
  ChildProcess(const std::vector<std::string>& argv, const Options& options);
  ~ChildProcess();  // kills and reaps a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Writes all of `bytes` to the child's standard input while collecting its output; false when
  // the input is closed or the time ran out.
  bool write(std::span<const std::byte> bytes, Timeout timeout = std::nullopt);
  void closeInput();
  // Stops reading the child's standard output: its next write there fails.
  void closeOutput();
  // Ends the child with SIGKILL (if it is still running); `wait` then reaps it.
  void kill() noexcept;
  // Asks the child to end with SIGTERM (if it is still running), so that it can clean up; `wait`
  // then reaps it.
  void terminate() noexcept;

  // Waits for `n` bytes of standard output and takes them; fewer when the output ended or the
  // time ran out.
  std::vector<std::byte> read(std::size_t n, Timeout timeout = std::nullopt);

  // Waits for the child to end, collecting its output: its wait status, or no value when the time
  // ran out.
  std::optional<int> wait(Timeout timeout = std::nullopt);

  // Standard output not yet taken by `read`, and all of standard error so far.
  const std::vector<std::byte>& pendingOutput() const noexcept { return out_; }
  const std::string& errorOutput() const noexcept { return err_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Moves output into the buffers until `done()` holds, both outputs have ended or the deadline
  // passed; with `input`, also writes it as the child takes it. Returns `done()`.
  template <typename Done>
  bool pump(Done done, std::optional<Clock::time_point> deadline,
            std::span<const std::byte>* input = nullptr);

  pid_t pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::optional<int> status_;
  std::vector<std::byte> out_;
  std::string err_;
};

// What a program run to its end left.
struct Completed {
  std::string out;     // standard output
  std::string err;     // standard error
  int exit_code = -1;  // exit status, or -1 when a signal ended it
  int signal = 0;      // the signal that ended it, or 0
};

// Runs the program at argv[0] with its standard input closed until it ends; a program still running
// after `timeout` is killed.
Completed runToCompletion(const std::vector<std::string>& argv,
                          const ChildProcess::Options& options = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace orv::peer
