// Server mode end to end: the real executables driven through pipes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "server/wire_bytes.hpp"
#include "test_functions.hpp"

namespace {

using orv::peer::ChildProcess;
using namespace orv::test;  // NOLINT(google-build-using-namespace): the message builders

// Starting may be slow (a sanitizer build, a busy machine); ending after bad input may not.
constexpr std::chrono::seconds startup{30};
constexpr std::chrono::seconds orderly_end{1};

const std::string all_fixtures =
    "ORV_FIXTURE_CHECKS=pass,approx,expect,skip,leak,logerr,logwarn,alloc";

// A server process past its version message.
class Server {
 public:
  explicit Server(const char* executable, std::vector<std::string> env = {})
      : child_({executable, "--listen=-"}, {.env = std::move(env)}) {
    EXPECT_EQ(read(version.size(), startup), version);
  }

  void send(const Bytes& bytes) {
    ASSERT_TRUE(
        child_.write({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, startup));
  }

  Bytes read(std::size_t n, std::chrono::milliseconds timeout = startup) {
    const std::vector<std::byte> bytes = child_.read(n, timeout);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return {p, p + bytes.size()};
  }

  // Closes its input and waits for it to end (within `timeout`); no value when it did not.
  std::optional<int> end(std::chrono::milliseconds timeout = orderly_end) {
    child_.closeInput();
    return child_.wait(timeout);
  }

  ChildProcess& child() { return child_; }
  std::string errors() const { return child_.errorOutput(); }

 private:
  ChildProcess child_;
};

bool exitedWith(std::optional<int> status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

bool abortedWith(std::optional<int> status) {
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ServerEndToEnd, ExitEndsWithStatusZeroAndNoReply) {
  Server server(ORV_SELFCHECK);
  server.send(exit_message);
  EXPECT_TRUE(exitedWith(server.end(), 0));
  EXPECT_TRUE(server.child().pendingOutput().empty());
  EXPECT_EQ(server.errors(), "");
}

TEST(ServerEndToEnd, MetadataDescribesTheRegistry) {
  const auto& registry = orv::runner::test_functions;
  Server server(ORV_SELFCHECK);
  server.send(query);
  const Bytes head = server.read(8);
  ASSERT_EQ(head.size(), 8u);
  EXPECT_EQ(u32At(head, 0), 3u);
  const Bytes body = server.read(u32At(head, 4));
  ASSERT_EQ(body.size(), u32At(head, 4));

  const std::uint32_t string_bytes_len = u32At(body, 0);
  const std::uint32_t tests_len = u32At(body, 4);
  ASSERT_EQ(tests_len, registry.size());
  ASSERT_EQ(body.size(), 8 + 8 * std::size_t{tests_len} + string_bytes_len);
  const std::size_t strings = 8 + 8 * std::size_t{tests_len};
  EXPECT_EQ(body[strings], 0);

  std::size_t next = 1;
  for (std::size_t i = 0; i < registry.size(); ++i) {
    SCOPED_TRACE(std::string(registry[i].name));
    const std::string_view name = registry[i].name;
    ASSERT_EQ(u32At(body, 8 + 4 * i), next);
    EXPECT_EQ(u32At(body, 8 + 4 * (tests_len + i)), 0u);
    const auto* first = reinterpret_cast<const char*>(body.data() + strings + next);
    EXPECT_EQ(std::string_view(first, name.size()), name);
    EXPECT_EQ(body[strings + next + name.size()], 0);
    next += name.size() + 1;
  }
  EXPECT_EQ(string_bytes_len, next);

  server.send(exit_message);
  EXPECT_TRUE(exitedWith(server.end(), 0));
}

TEST(ServerEndToEnd, EveryRegisteredCheckPassesOverTheProtocol) {
  Server server(ORV_SELFCHECK);
  for (std::uint32_t i = 0; i < orv::runner::test_functions.size(); ++i) {
    SCOPED_TRACE(std::string(orv::runner::test_functions[i].name));
    server.send(runTest(i));
    EXPECT_EQ(server.read(16), results(i, 0));
  }
  server.send(exit_message);
  EXPECT_TRUE(exitedWith(server.end(), 0));
  EXPECT_EQ(server.errors(), "");
}

TEST(ServerEndToEnd, FlagsAndDiagnosticsOfFixtureChecks) {
  const struct {
    const char* key;
    std::uint32_t flags;
    std::vector<std::string> diagnostics;  // on standard error, in this order
  } cases[] = {
      {"pass", 0, {}},
      {"approx",
       1,
       {"actual 1.5e+00, not within absolute tolerance 2.5e-01 of expected 1e+00\n",
        "fixture_runner.cpp:"}},
      {"expect", 1, {"fixture_runner.cpp:", "fixture_runner.cpp:"}},
      {"skip", 2, {}},
      {"leak", 4 + 8, {"[gpa] (err): memory address 0x"}},
      {"logerr", 8, {"[fixture] (err): something went wrong\n"}},
      {"logwarn", 0, {"[fixture] (warn): shown\n"}},
      {"alloc", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Server server(ORV_FIXTURE_RUNNER, {std::string("ORV_FIXTURE_CHECKS=") + c.key});
    server.send(runTest(0));
    EXPECT_EQ(server.read(16), results(0, c.flags));
    server.send(exit_message);
    EXPECT_TRUE(exitedWith(server.end(), 0));

    const std::string errors = server.errors();
    std::size_t at = 0;
    for (const std::string& diagnostic : c.diagnostics) {
      at = errors.find(diagnostic, at);
      ASSERT_NE(at, std::string::npos) << diagnostic << " missing from:\n" << errors;
      ++at;
    }
    if (c.diagnostics.empty()) {
      EXPECT_EQ(errors, "");
    }
    // Nothing of terminal mode: no position prefix, outcome word or summary.
    for (const char* terminal : {"1/1 ", "OK\n", "FAIL", "SKIP", "passed", "tests leaked"}) {
      EXPECT_FALSE(contains(errors, terminal)) << terminal;
    }
  }
}

TEST(ServerEndToEnd, ErrorCountBelongsToEachRequestAlone) {
  Server server(ORV_FIXTURE_RUNNER, {"ORV_FIXTURE_CHECKS=logerr,leak,pass"});
  server.send(concat({runTest(0), runTest(0), runTest(1), runTest(2), runTest(0)}));
  EXPECT_EQ(server.read(5 * 16),
            concat({results(0, 8), results(0, 8), results(1, 12), results(2, 0), results(0, 8)}));
  server.send(exit_message);
  EXPECT_TRUE(exitedWith(server.end(), 0));
}

TEST(ServerEndToEnd, UnsupportedTagsEndWithStatusOne) {
  const struct {
    std::uint32_t tag;
    const char* line;
  } cases[] = {
      {1, "unsupported message: 1"},
      {2, "unsupported message: 2"},
      {3, "unsupported message: 3"},
      {0xC0FFEE, "unsupported message: c0ffee"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Server server(ORV_FIXTURE_RUNNER, {all_fixtures});
    server.send(header(c.tag, 0));
    EXPECT_TRUE(exitedWith(server.end(), 1));
    EXPECT_EQ(server.errors(), c.line);
    EXPECT_TRUE(server.child().pendingOutput().empty());
  }
}

enum class Ending { exit0, exit1, abort };

TEST(ServerEndToEnd, BadInputEndsInAnOrderlyWayWithinASecond) {
  // The fixture registry has eight checks.
  const struct {
    const char* name;
    Bytes input;
    Ending ending;
    const char* diagnostic;
    Bytes replies;
  } cases[] = {
      {"index one past the registry",
       runTest(8),
       Ending::abort,
       "run_test index 8 is outside the registry of 8 tests\n",
       {}},
      {"largest index",
       runTest(0xFFFFFFFFu),
       Ending::abort,
       "run_test index 4294967295 is outside the registry of 8 tests\n",
       {}},
      {"run_test without body", header(5, 0), Ending::abort, "run_test body of 0 bytes", {}},
      {"run_test with one byte",
       concat({header(5, 1), {0}}),
       Ending::abort,
       "run_test body of 1 bytes",
       {}},
      {"run_test with three bytes",
       concat({header(5, 3), {0, 0, 0}}),
       Ending::abort,
       "run_test body of 3 bytes",
       {}},
      {"input ends inside a header",
       {4, 0, 0, 0, 0},
       Ending::abort,
       "the input ended inside a message\n",
       {}},
      {"input ends inside a body",
       concat({header(5, 4), {0, 0}}),
       Ending::abort,
       "the input ended inside a message\n",
       {}},
      {"4 GiB body declared",
       concat({header(4, 0xFFFFFFFFu), Bytes(1000, 0)}),
       Ending::abort,
       "the input ended inside a message\n",
       {}},
      {"input ends between messages", runTest(0), Ending::exit1, "", results(0, 0)},
      {"surplus body bytes", concat({runTest(3, Bytes(13, 0xAB)), exit_message}), Ending::exit0, "",
       results(3, 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server(ORV_FIXTURE_RUNNER, {all_fixtures});
    server.send(c.input);
    const std::optional<int> status = server.end();
    ASSERT_TRUE(status) << "still running after " << orderly_end.count() << " s";
    switch (c.ending) {
      case Ending::exit0:
        EXPECT_TRUE(exitedWith(status, 0));
        break;
      case Ending::exit1:
        EXPECT_TRUE(exitedWith(status, 1));
        break;
      case Ending::abort:
        EXPECT_TRUE(abortedWith(status)) << "wait status " << *status;
        EXPECT_TRUE(contains(server.errors(), "panic: internal test runner failure\n"));
        break;
    }
    EXPECT_TRUE(contains(server.errors(), c.diagnostic)) << server.errors();
    const auto& out = server.child().pendingOutput();
    EXPECT_EQ(Bytes(reinterpret_cast<const std::uint8_t*>(out.data()),
                    reinterpret_cast<const std::uint8_t*>(out.data()) + out.size()),
              c.replies);
  }
}

TEST(ServerEndToEnd, AFailedWriteIsAFatalStop) {
  Server server(ORV_FIXTURE_RUNNER, {all_fixtures});
  server.child().closeOutput();
  server.send(query);
  const std::optional<int> status = server.end();
  EXPECT_TRUE(abortedWith(status));
  EXPECT_TRUE(contains(server.errors(), "panic: internal test runner failure\n"))
      << server.errors();
}

}  // namespace
