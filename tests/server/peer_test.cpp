// orv-peer and the discovery of self-checks as CTest tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "server/odd_names.hpp"
#include "test_functions.hpp"

namespace {

using orv::peer::Completed;

Completed runToEnd(const std::vector<std::string>& argv, std::vector<std::string> env = {}) {
  return orv::peer::runToCompletion(argv, {.env = std::move(env)});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    out.push_back(line);
  return out;
}

template <typename Registry>
std::vector<std::string> namesOf(const Registry& registry) {
  std::vector<std::string> names;
  for (const auto& test : registry)
    names.emplace_back(test.name);
  return names;
}

// The names `ctest -N` lists ("  Test #3: name"), in order.
std::vector<std::string> ctestNames(const std::string& listing) {
  std::vector<std::string> names;
  for (const std::string& line : lines(listing)) {
    const auto start = line.find_first_not_of(' ');
    if (start == std::string::npos || line.compare(start, 5, "Test ") != 0) continue;
    const auto colon = line.find(": ", start);
    if (colon != std::string::npos) names.push_back(line.substr(colon + 2));
  }
  return names;
}

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A fresh directory, removed with everything in it at the end of the scope.
struct ScratchDirectory {
  std::filesystem::path path;
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orv-peer-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
};

const std::string fixtures = "ORV_FIXTURE_CHECKS=pass,approx,skip,leak,logerr,logwarn,alloc";

TEST(Peer, ListsTheChecksOneALine) {
  const Completed listed = runToEnd({ORV_PEER, ORV_FIXTURE_RUNNER, "--list"}, {fixtures});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "fixture.test.passes\n"
            "fixture.test.fails an approximate comparison\n"
            "fixture.test.is skipped\n"
            "fixture.test.leaks a block\n"
            "fixture.test.logs an error\n"
            "fixture.test.logs below and at the threshold\n"
            "fixture.test.allocates and frees\n");
}

TEST(Peer, RunReportsTheOutcomeInItsExitStatus) {
  const struct {
    const char* name;
    int code;
    const char* diagnostic;
  } cases[] = {
      {"fixture.test.passes", 0, ""},
      {"fixture.test.fails an approximate comparison", 1,
       "orv-peer: fixture.test.fails an approximate comparison; failed\n"},
      {"fixture.test.is skipped", 77, ""},
      {"fixture.test.leaks a block", 1,
       "orv-peer: fixture.test.leaks a block; leaked memory; 1 errors were logged\n"},
      {"fixture.test.logs an error", 1,
       "orv-peer: fixture.test.logs an error; 1 errors were logged\n"},
      {"fixture.test.logs below and at the threshold", 0, "[fixture] (warn): shown\n"},
      {"fixture.test.allocates and frees", 0, ""},
      {"fixture.test.no such check", 2, "orv-peer: no test is named"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Completed r = runToEnd({ORV_PEER, ORV_FIXTURE_RUNNER, "--run", c.name}, {fixtures});
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.diagnostic), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Peer, TroubleIsStatusTwo) {
  const struct {
    const char* name;
    std::vector<std::string> argv;
    const char* diagnostic;
  } cases[] = {
      {"no arguments", {ORV_PEER}, "usage: orv-peer"},
      {"unknown option", {ORV_PEER, ORV_FIXTURE_RUNNER, "--all"}, "usage: orv-peer"},
      {"missing program", {ORV_PEER, "/nonexistent/orv-selfcheck", "--list"}, "cannot start"},
      {"not a server", {ORV_PEER, "/bin/true", "--list"}, "without replying"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Completed r = runToEnd(c.argv);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(c.diagnostic), std::string::npos) << r.err;
  }
}

TEST(Peer, OddNamesSurviveListingAndRunning) {
  const Completed listed = runToEnd({ORV_PEER, ORV_ODD_NAMES_RUNNER, "--list"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(lines(listed.out), namesOf(orv::odd_names::checks));
  for (const auto& test : orv::odd_names::checks) {
    SCOPED_TRACE(std::string(test.name));
    const Completed r = runToEnd({ORV_PEER, ORV_ODD_NAMES_RUNNER, "--run", std::string(test.name)});
    EXPECT_EQ(r.exit_code, test.name == "odd.test.skipped" ? 77 : 0) << r.err;
  }
}

TEST(Peer, ListingRefusesANameWithALineEnd) {
  const Completed r =
      runToEnd({ORV_PEER, ORV_ODD_NAMES_RUNNER, "--list"}, {"ORV_ODD_NAMES_NEWLINE=1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("holds a line end"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(SelfCheckDiscovery, OddNamesBecomeCTestTestsByName) {
  const ScratchDirectory scratch;
  const std::filesystem::path& dir = scratch.path;
  const std::filesystem::path tests = dir / "tests.cmake";
  const Completed generated =
      runToEnd({ORV_CMAKE, "-D", std::string("PEER=") + ORV_PEER, "-D",
                std::string("EXECUTABLE=") + ORV_ODD_NAMES_RUNNER, "-D", "LABELS=selfcheck", "-D",
                "OUTPUT=" + tests.string(), "-P", ORV_ADD_TESTS_SCRIPT});
  ASSERT_EQ(generated.exit_code, 0) << generated.err;
  std::ofstream(dir / "CTestTestfile.cmake") << "include(tests.cmake)\n";

  const std::vector<std::string> expected = namesOf(orv::odd_names::checks);
  const Completed listed = runToEnd({ORV_CTEST, "--test-dir", dir.string(), "-N", "-L", "^odd$"});
  EXPECT_EQ(ctestNames(listed.out), expected) << listed.out;

  const std::filesystem::path junit = dir / "junit.xml";
  const Completed ran = runToEnd(
      {ORV_CTEST, "--test-dir", dir.string(), "-L", "selfcheck", "--output-junit", junit.string()});
  EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
  std::stringstream report;
  report << std::ifstream(junit).rdbuf();
  for (const std::string& name : expected) {
    SCOPED_TRACE(name);
    const std::string testcase = "<testcase name=\"" + xmlEscaped(name) + "\"";
    const auto at = report.str().find(testcase);
    ASSERT_NE(at, std::string::npos) << report.str();
    const std::string status = report.str().substr(at, report.str().find('>', at) - at);
    EXPECT_NE(status.find(name == "odd.test.skipped" ? "status=\"notrun\"" : "status=\"run\""),
              std::string::npos)
        << status;
  }
}

TEST(SelfCheckDiscovery, TheBuildRegistersEveryRegisteredCheck) {
  const Completed listed =
      runToEnd({ORV_CTEST, "--test-dir", ORV_BUILD_DIR, "-N", "-L", "^selfcheck$"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_EQ(ctestNames(listed.out), namesOf(orv::runner::test_functions)) << listed.out;
}

}  // namespace
