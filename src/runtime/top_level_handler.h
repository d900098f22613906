#pragma once
// The outermost handler of the run, the start-up and exit steps of the
// runtime services, and the end of the process.
#include <cstdint>

#include "platform/platform.h"
#include "runtime/exception.h"

namespace tessel {

/// The whole run: the outermost handler is put in force first, then the
/// start-up steps of the runtime services (the failure hooks, then the
/// version facts), then `mainBlock`. A failure that nothing catches is
/// reported once, after every cleanup of the run has happened, and ends
/// the process with exit code 1; otherwise it ends with 0.
[[noreturn]] void RunUnderTopLevelHandler(void (*mainBlock)());

/// The outermost frame's handler, offered each failure before any cleanup
/// runs: the platform's UnhandledExceptionFilter is asked first and a
/// failure it answers EXCEPTION_CONTINUE_SEARCH for (a debugger is
/// attached) is declined, with no cleanup and no report. Otherwise it is
/// taken: a C++ exception stays the failure that was raised, any other
/// platform exception becomes the object MapPlatformException makes. A
/// failure offered while a taken one unwinds ends the run at once with the
/// taken one's report.
bool TopLevelExceptionHandler(ExceptionPointers* failure);

/// Shows the report of `error` raised at `address`, then EndRun(1).
[[noreturn]] void ReportUnhandledException(const Exception& error, const void* address);

/// Records the exit code, runs the exit steps of the runtime services in
/// the reverse order of their start-up (the failure hooks are taken back
/// and the out-of-memory object released) and ends the process.
[[noreturn]] void EndRun(std::uint32_t exitCode);

/// Raises the one out-of-memory object made at start-up, without needing
/// memory, at `address`. Before start-up and after the exit steps a memory
/// request that cannot be met raises std::bad_alloc instead.
[[noreturn]] void RaiseOutOfMemory(const void* address);

}  // namespace tessel
