// The check API: what a self-check uses to state its expectations.
//
// A self-check is a function without arguments that returns `Result`: success, or one `Error`.
// Failing comparisons record where they happened in the run's error return trace, and `ORV_TRY`
// records every point through which an error is passed on. The log sink, the checking allocator
// and the standard-error lock live here too, so that module checks depend on this small library
// and never on the runner that drives them.
//
// Internal to the build, like the checks and the runner written against it: it is not installed,
// and only targets that link `orv_check` see it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <mutex>
#include <string>
#include <string_view>

namespace orv::check {

// ---------------------------------------------------------------------------------------------
// Results

// The error values a check can end with. The runner prints them by name (`errorName`).
enum class Error : std::uint8_t {
  TestUnexpectedResult = 1,     // from `expect`
  TestExpectedApproxEqAbs = 2,  // from `expectApproxEqAbs`
  SkipVellTest = 3,             // the check was skipped
};

// The printable name of an error value, for example "TestExpectedApproxEqAbs".
std::string_view errorName(Error error) noexcept;

// Success, or one error value.
class [[nodiscard]] Result {
 public:
  constexpr Result() noexcept = default;
  constexpr Result(Error error) noexcept : error_(error) {}  // NOLINT: implicit by design

  constexpr bool ok() const noexcept { return error_ == Error{}; }
  constexpr Error error() const noexcept { return error_; }

 private:
  Error error_{};
};

inline constexpr Result success{};

// A registered self-check: its full name ("orv_kernel.test.…") and its entry.
using CheckFn = Result (*)();
struct TestFn {
  std::string_view name;
  CheckFn func;
};

// ---------------------------------------------------------------------------------------------
// Error return trace

// A place in the source, captured at the call site when used as a default argument. (The
// compiler builtins work with g++ and with clang 14, whose standard library pairing lacks
// SourceLocation.)
struct SourceLocation {
  const char* file = "";
  const char* function = "";
  unsigned line = 0;

  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          const char* function = __builtin_FUNCTION(),
                                          unsigned line = __builtin_LINE()) noexcept {
    return {file, function, line};
  }
};

// Where a failing check's error was created and every point it was passed on through. Entries
// beyond the capacity are dropped; the count of dropped entries is kept.
struct ErrorTrace {
  static constexpr std::size_t capacity = 32;
  std::array<SourceLocation, capacity> entries{};
  std::size_t len = 0;
  std::size_t dropped = 0;

  void record(SourceLocation where) noexcept;
  void clear() noexcept { len = dropped = 0; }
};

// The trace of the running check. The runner prints and empties it after a failure.
ErrorTrace& errorTrace() noexcept;

// Records `where` in the trace and returns `error`.
Result fail(Error error, SourceLocation where = SourceLocation::current()) noexcept;
// Records `where` as a point the error passed through, and returns it unchanged.
Result passOn(Result result, SourceLocation where = SourceLocation::current()) noexcept;
// Ends a check as skipped.
Result skip(SourceLocation where = SourceLocation::current()) noexcept;

// Returns from the enclosing check with the error of `expr`, recording this line in the trace.
#define ORV_TRY(...)                                                                         \
  do {                                                                                       \
    if (const ::orv::check::Result orv_try_result_ = (__VA_ARGS__); !orv_try_result_.ok()) { \
      return ::orv::check::passOn(orv_try_result_);                                          \
    }                                                                                        \
  } while (false)

// ---------------------------------------------------------------------------------------------
// Comparisons

// Success when `ok`, else `TestUnexpectedResult`. Prints nothing.
Result expect(bool ok, SourceLocation where = SourceLocation::current()) noexcept;

// True when `expected` and `actual` match within `tolerance`: exactly equal (equal infinities
// included), otherwise neither is NaN and |expected − actual| ≤ tolerance in the type's own
// precision. `tolerance` is not negative.
bool approxEqAbs(double expected, double actual, double tolerance) noexcept;
bool approxEqAbs(float expected, float actual, float tolerance) noexcept;

// `approxEqAbs`, or `TestExpectedApproxEqAbs` after writing
// "actual {}, not within absolute tolerance {} of expected {}\n" to standard error, each value in
// shortest round-trip scientific notation of its type.
Result expectApproxEqAbs(double expected, double actual, double tolerance,
                         SourceLocation where = SourceLocation::current()) noexcept;
Result expectApproxEqAbs(float expected, float actual, float tolerance,
                         SourceLocation where = SourceLocation::current()) noexcept;

// ---------------------------------------------------------------------------------------------
// Standard error

// Everything written to standard error takes this lock, so that lines never interleave with a
// display that draws from another thread. A display registers an overlay; every write clears it
// first (with the lock held) and the display redraws at its next tick.
struct StderrOverlay {
  void (*clear)(void* context) = nullptr;
  void* context = nullptr;
};

std::unique_lock<std::mutex> lockStderr();
// Writes all of `bytes` to file descriptor 2; the caller holds `lockStderr()`.
void writeStderrLocked(std::string_view bytes) noexcept;
// Takes the lock, clears the overlay if one is drawn, writes all of `bytes`.
void writeStderr(std::string_view bytes) noexcept;
// Sets the overlay (or removes it, with `{}`); the caller holds `lockStderr()`.
void setStderrOverlayLocked(StderrOverlay overlay) noexcept;

// ---------------------------------------------------------------------------------------------
// Log sink

enum class LogLevel : std::uint8_t { err = 0, warn = 1, info = 2, debug = 3 };

std::string_view logLevelName(LogLevel level) noexcept;

// Counts an err-level message (saturating) and writes "[scope] (level): message\n" when `level`
// is at least as severe as the threshold.
void log(LogLevel level, std::string_view scope, std::string_view message) noexcept;

std::uint64_t logErrCount() noexcept;
void resetLogErrCount() noexcept;
LogLevel logLevel() noexcept;
void setLogLevel(LogLevel level) noexcept;

// ---------------------------------------------------------------------------------------------
// Checking allocator

// The allocator self-checks take memory from. It records every live block with the stack trace of
// its allocation; `teardown` reports each block still live through the log sink as
// "[gpa] (err): memory address 0x… leaked: " followed by that trace, frees it, and says whether
// anything leaked. Invalid and double frees are reported at err level and otherwise ignored.
class CheckingAllocator final : public std::pmr::memory_resource {
 public:
  CheckingAllocator();
  ~CheckingAllocator() override;
  CheckingAllocator(const CheckingAllocator&) = delete;
  CheckingAllocator& operator=(const CheckingAllocator&) = delete;

  // Drops every record and starts empty (blocks still live are freed without a report).
  void reset() noexcept;
  // Reports and frees leaked blocks; true when there were any.
  bool teardown() noexcept;
  std::size_t liveBlocks() const noexcept;

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override;

  struct Table;
  Table* table_;
};

// The one checking allocator of the process.
CheckingAllocator& allocator() noexcept;

// ---------------------------------------------------------------------------------------------
// Stack traces

// Appends one line per frame: the module, the demangled function and the address.
void appendFrames(std::string& out, void* const* frames, int count);
// Appends the current call stack, leaving out the `skip` innermost frames.
void appendStackTrace(std::string& out, int skip = 0);

}  // namespace orv::check
