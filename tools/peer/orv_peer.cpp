// orv-peer: drives a self-check executable in server mode, as a build driver would.
//
//   orv-peer EXECUTABLE --list        writes the names of the registered checks, one a line
//   orv-peer EXECUTABLE --run NAME    runs the check named NAME
//
// Exit status: 0 done (for --run: the check passed), 77 the check was skipped, 1 it failed, leaked
// memory or logged errors; 2 anything else (usage, an unknown name, a broken server), with a line
// on standard error. The server's standard error is this program's.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"
#include "protocol.hpp"
#include "wire.hpp"

namespace {

using orv::peer::ChildProcess;
using orv::runner::protocol::PeerTag;
using orv::runner::protocol::RunnerTag;

constexpr int exit_passed = 0;
constexpr int exit_failed = 1;
constexpr int exit_trouble = 2;
constexpr int exit_skipped = 77;

struct Trouble : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with wait status " + std::to_string(status);
}

std::uint32_t tagOf(auto tag) { return static_cast<std::uint32_t>(tag); }

// One server process from its version message to its exit.
class Session {
 public:
  explicit Session(const std::string& executable)
      : child_({executable, "--listen=-"}, {.env = {}, .stderr_to = orv::peer::Stderr::inherited}) {
    const orv::peer::Message version = receive(RunnerTag::vell_version);
    const std::string_view text(reinterpret_cast<const char*>(version.body.data()),
                                version.body.size());
    if (text != orv::runner::protocol::version) {
      throw Trouble("the server speaks version \"" + std::string(text) + "\", not \"" +
                    std::string(orv::runner::protocol::version) + "\"");
    }
  }

  std::vector<std::string> names() {
    send(orv::peer::encodeMessage(tagOf(PeerTag::query_test_metadata)));
    return orv::peer::parseTestMetadata(receive(RunnerTag::test_metadata).body);
  }

  std::uint32_t run(std::uint32_t index) {
    send(orv::peer::runTestMessage(index));
    const orv::peer::Message results = receive(RunnerTag::test_results);
    const auto body = std::span<const std::byte>(results.body);
    if (body.size() != 8 || orv::runner::protocol::loadU32(body.first<4>()) != index) {
      throw Trouble("the server answered for another test");
    }
    return orv::runner::protocol::loadU32(body.last<4>());
  }

  void finish() {
    send(orv::peer::encodeMessage(tagOf(PeerTag::exit)));
    child_.closeInput();
    const int status = *child_.wait();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw Trouble("the server " + describeStatus(status) + " after exit");
    }
  }

 private:
  void send(const std::vector<std::byte>& message) {
    if (!child_.write(message)) throw Trouble("the server stopped reading");
  }

  orv::peer::Message receive(RunnerTag tag) {
    std::optional<orv::peer::Message> message = orv::peer::receiveMessage(child_);
    if (!message) {
      throw Trouble("the server " + describeStatus(*child_.wait()) + " without replying");
    }
    if (message->tag != tagOf(tag)) {
      throw Trouble("the server replied with message " + std::to_string(message->tag) +
                    " instead of " + std::to_string(tagOf(tag)));
    }
    return *std::move(message);
  }

  ChildProcess child_;
};

int list(const std::string& executable) {
  Session session(executable);
  const std::vector<std::string> names = session.names();
  session.finish();
  std::string text;
  for (const std::string& name : names) {
    // One name a line: a line end inside a name would split it.
    if (name.find_first_of("\r\n") != std::string::npos) {
      throw Trouble("a test name holds a line end: \"" + name + "\"");
    }
    text += name + '\n';
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? exit_passed : exit_trouble;
}

int run(const std::string& executable, const std::string& name) {
  Session session(executable);
  const std::vector<std::string> names = session.names();
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) throw Trouble("no test is named \"" + name + "\"");
  const std::uint32_t flags = session.run(static_cast<std::uint32_t>(found - names.begin()));
  session.finish();

  namespace protocol = orv::runner::protocol;
  const std::uint32_t errors = flags >> protocol::log_err_count_shift;
  std::string problems;
  if ((flags & protocol::flag_failed) != 0) problems += "; failed";
  if ((flags & protocol::flag_leaked) != 0) problems += "; leaked memory";
  if (errors != 0) problems += "; " + std::to_string(errors) + " errors were logged";
  if (!problems.empty()) {
    std::fprintf(stderr, "orv-peer: %s%s\n", name.c_str(), problems.c_str());
    return exit_failed;
  }
  return (flags & protocol::flag_skipped) != 0 ? exit_skipped : exit_passed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  try {
    if (args.size() == 3 && args[2] == "--list") return list(args[1]);
    if (args.size() == 4 && args[2] == "--run") return run(args[1], args[3]);
    std::fprintf(stderr,
                 "usage: orv-peer EXECUTABLE --list\n       orv-peer EXECUTABLE --run NAME\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orv-peer: %s\n", e.what());
  }
  return exit_trouble;
}
