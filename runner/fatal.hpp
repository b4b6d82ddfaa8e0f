// Ending the process on an unrecoverable fault: the fatal stop and the fault handlers.
#pragma once

#include <string_view>

namespace orv::runner {

// Writes "thread {id} panic: {message}\n" and a stack trace to standard error, then aborts.
[[noreturn]] void fatalStop(std::string_view message) noexcept;

// Handlers for SIGSEGV, SIGILL, SIGBUS and SIGFPE (on an alternate stack, so a stack overflow is
// reported too) and a do-nothing SIGPIPE handler.
void installFaultHandlers() noexcept;

}  // namespace orv::runner
