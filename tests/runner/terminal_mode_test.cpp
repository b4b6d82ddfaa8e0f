// Terminal mode end to end: the real orv-selfcheck and the fixture runner as processes, standard
// error on a pipe and on a pseudo-terminal, compared byte for byte.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "test_functions.hpp"

namespace {

using orv::peer::Completed;
using orv::peer::runToCompletion;
using orv::peer::Stderr;

const std::string selfcheck = ORV_SELFCHECK_PATH;
const std::string fixture = ORV_FIXTURE_RUNNER_PATH;

// The fixture runner with `checks` registered, standard error on a pipe or on a terminal.
Completed runFixture(const std::string& checks, Stderr stderr_to = Stderr::captured,
                     std::vector<std::string> args = {}) {
  args.insert(args.begin(), fixture);
  return runToCompletion(args, {{"ORV_FIXTURE_CHECKS=" + checks}, stderr_to});
}

// Leaves out the progress display's drawings: each starts with "\r\x1b[K" and runs to the next
// carriage return or line end; a bare "\r\x1b[K" clears the line.
std::string withoutProgress(const std::string& text) {
  return std::regex_replace(text, std::regex("\r\x1b\\[K[^\r\n]*"), "");
}

// Replaces what depends on the build (source paths, addresses, stack frames) with placeholders.
std::string normalised(const std::string& text) {
  std::string out =
      std::regex_replace(text, std::regex("(^|\n)/[^\n]*:[0-9]+: in [^\n]*"), "$1<trace>");
  out = std::regex_replace(out, std::regex("0x[0-9a-f]+ leaked: \n(    [^\n]*\n)*"),
                           "0x<address> leaked: \n<frames>\n");
  return out;
}

TEST(TerminalMode, RealRegistryOnAPipe) {
  const Completed r = runToCompletion({selfcheck});
  std::string expected;
  const std::size_t n = orv::runner::test_functions.size();
  for (std::size_t i = 0; i < n; ++i) {
    expected += std::to_string(i + 1) + "/" + std::to_string(n) + " " +
                std::string(orv::runner::test_functions[i].name) + "...OK\n";
  }
  expected += "All " + std::to_string(n) + " tests passed.\n";
  EXPECT_EQ(r.err, expected);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(TerminalMode, RealRegistryOnATerminalShowsOnlyTheSummary) {
  const Completed r = runToCompletion({selfcheck}, {{}, Stderr::terminal});
  EXPECT_EQ(withoutProgress(r.err),
            "All " + std::to_string(orv::runner::test_functions.size()) + " tests passed.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(TerminalMode, OutcomesOnAPipeAndOnATerminal) {
  const struct {
    const char* checks;
    const char* pipe;
    const char* terminal;
    int status;
  } cases[] = {
      {"pass,pass", "1/2 fixture.test.passes...OK\n2/2 fixture.test.passes...OK\n", "", 0},
      {"approx",
       "1/1 fixture.test.fails an approximate comparison...actual 1.5e+00, not within absolute "
       "tolerance 2.5e-01 of expected 1e+00\nFAIL (TestExpectedApproxEqAbs)\n<trace>\n"
       "0 passed; 0 skipped; 1 failed.\n",
       "actual 1.5e+00, not within absolute tolerance 2.5e-01 of expected 1e+00\n"
       "1/1 fixture.test.fails an approximate comparison...FAIL (TestExpectedApproxEqAbs)\n"
       "<trace>\n0 passed; 0 skipped; 1 failed.\n",
       1},
      {"expect",
       "1/1 fixture.test.fails expect in a helper...FAIL (TestUnexpectedResult)\n<trace>\n"
       "<trace>\n0 passed; 0 skipped; 1 failed.\n",
       "1/1 fixture.test.fails expect in a helper...FAIL (TestUnexpectedResult)\n<trace>\n"
       "<trace>\n0 passed; 0 skipped; 1 failed.\n",
       1},
      {"skip", "1/1 fixture.test.is skipped...SKIP\n0 passed; 1 skipped; 0 failed.\n",
       "1/1 fixture.test.is skipped...SKIP\n0 passed; 1 skipped; 0 failed.\n", 0},
      {"pass,skip,approx,pass",
       "1/4 fixture.test.passes...OK\n2/4 fixture.test.is skipped...SKIP\n"
       "3/4 fixture.test.fails an approximate comparison...actual 1.5e+00, not within absolute "
       "tolerance 2.5e-01 of expected 1e+00\nFAIL (TestExpectedApproxEqAbs)\n<trace>\n"
       "4/4 fixture.test.passes...OK\n2 passed; 1 skipped; 1 failed.\n",
       "2/4 fixture.test.is skipped...SKIP\n"
       "actual 1.5e+00, not within absolute tolerance 2.5e-01 of expected 1e+00\n"
       "3/4 fixture.test.fails an approximate comparison...FAIL (TestExpectedApproxEqAbs)\n"
       "<trace>\n2 passed; 1 skipped; 1 failed.\n",
       1},
      {"leak",
       "1/1 fixture.test.leaks a block...OK\n[gpa] (err): memory address 0x<address> leaked: \n"
       "<frames>\nAll 1 tests passed.\n1 errors were logged.\n1 tests leaked memory.\n",
       "[gpa] (err): memory address 0x<address> leaked: \n<frames>\n"
       "All 1 tests passed.\n1 errors were logged.\n1 tests leaked memory.\n",
       1},
      {"logerr",
       "1/1 fixture.test.logs an error...[fixture] (err): something went wrong\nOK\n"
       "All 1 tests passed.\n1 errors were logged.\n",
       "[fixture] (err): something went wrong\nAll 1 tests passed.\n1 errors were logged.\n", 1},
      {"logwarn",
       "1/1 fixture.test.logs below and at the threshold...[fixture] (warn): shown\nOK\n"
       "All 1 tests passed.\n",
       "[fixture] (warn): shown\nAll 1 tests passed.\n", 0},
      {"alloc,leak,leak",
       "1/3 fixture.test.allocates and frees...OK\n"
       "2/3 fixture.test.leaks a block...OK\n[gpa] (err): memory address 0x<address> leaked: \n"
       "<frames>\n3/3 fixture.test.leaks a block...OK\n"
       "[gpa] (err): memory address 0x<address> leaked: \n<frames>\n"
       "All 3 tests passed.\n2 errors were logged.\n2 tests leaked memory.\n",
       "[gpa] (err): memory address 0x<address> leaked: \n<frames>\n"
       "[gpa] (err): memory address 0x<address> leaked: \n<frames>\n"
       "All 3 tests passed.\n2 errors were logged.\n2 tests leaked memory.\n",
       1},
      {"", "All 0 tests passed.\n", "All 0 tests passed.\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.checks);
    const Completed pipe = runFixture(c.checks);
    std::string expected_pipe = c.pipe;
    if (std::string(c.checks) == "pass,pass") expected_pipe += "All 2 tests passed.\n";
    EXPECT_EQ(normalised(pipe.err), expected_pipe);
    EXPECT_EQ(pipe.out, "");
    EXPECT_EQ(pipe.exit_code, c.status);

    const Completed tty = runFixture(c.checks, Stderr::terminal);
    std::string expected_tty = c.terminal;
    if (std::string(c.checks) == "pass,pass") expected_tty += "All 2 tests passed.\n";
    EXPECT_EQ(normalised(withoutProgress(tty.err)), expected_tty);
    EXPECT_EQ(tty.out, "");
    EXPECT_EQ(tty.exit_code, c.status);
  }
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(CommandLine, AnythingButListenIsAFatalStop) {
  const char* arguments[] = {"--listen", "--listen=",  "--listen=--", "--listen=-x",
                             "-",        "--LISTEN=-", " --listen=-", "x"};
  for (const char* argument : arguments) {
    SCOPED_TRACE(argument);
    const Completed r = runFixture("pass", Stderr::captured, {argument});
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex("^thread [0-9]+ panic: unrecognized command line argument\n")))
        << r.err;
    EXPECT_EQ(r.out, "");
  }
  // The bad argument is refused even after a good one.
  const Completed r = runFixture("pass", Stderr::captured, {"--listen=-", "--verbose"});
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_NE(r.err.find("panic: unrecognized command line argument\n"), std::string::npos);
}

TEST(CommandLine, ArgumentVectorMustFitFourKilobytes) {
  // Every argument counts with its terminating zero byte, the program path included.
  const std::size_t path_bytes = fixture.size() + 1;
  const std::string fits(4096 - path_bytes - 1, 'a');
  const Completed at_limit = runFixture("pass", Stderr::captured, {fits});
  EXPECT_NE(at_limit.err.find("panic: unrecognized command line argument\n"), std::string::npos);

  const Completed over = runFixture("pass", Stderr::captured, {fits + "a"});
  EXPECT_EQ(over.signal, SIGABRT);
  EXPECT_NE(over.err.find("panic: unable to parse command line args\n"), std::string::npos)
      << over.err;
}

TEST(FaultHandler, UnmappedAddressAndStackOverflowEndBySigabrt) {
  const struct {
    const char* fault;
    const char* first_line;
  } cases[] = {
      {"segv", "^Segmentation fault at address 0x10\n"},
      {"stack", "^Segmentation fault at address 0x[0-9a-f]+\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const Completed r = runToCompletion({fixture}, {{std::string("ORV_FIXTURE_FAULT=") + c.fault}});
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_TRUE(std::regex_search(r.err, std::regex(c.first_line))) << r.err;
    EXPECT_TRUE(startsWith(r.err.substr(r.err.find('\n') + 1), "/") ||
                startsWith(r.err.substr(r.err.find('\n') + 1), "."))
        << "a stack trace follows: " << r.err;
  }
}

TEST(FaultHandler, ReportStartsItsOwnLineAfterAProgressDrawing) {
  const Completed r = runFixture("crash", Stderr::terminal);
  EXPECT_EQ(r.signal, SIGABRT);
  ASSERT_NE(r.err.find("\r\x1b[KTest [0/1] fixture.test.crashes after a while"), std::string::npos)
      << "the display drew while the check ran";
  const std::size_t report = r.err.find("Segmentation fault at address 0x10\n");
  ASSERT_NE(report, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(report - 4, 4), "\r\x1b[K") << "the drawn line is cleared first";
}

}  // namespace
