#include "runtime/top_level_handler.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <new>

#include "runtime/error_report.h"
#include "runtime/platform_exception.h"
#include "runtime/string_table.h"
#include "runtime/version.h"

namespace tessel {

namespace {

void (*MainBlockOfRun)() = nullptr;
std::uint32_t ExitCode = 0;
bool FailureTaken = false;
bool FailureDeclined = false;
std::unique_ptr<EOutOfMemory> OutOfMemoryObject;
std::terminate_handler PreviousTerminateHandler = nullptr;

[[noreturn]] void ReportFailureInFlight() {
    // Only a C++ exception that this system did not raise leaves nothing
    // here; it is reported as the platform exception that carried it.
    if (!FailureInFlight) FailureInFlight = MapPlatformException(ExceptionRecord{.ExceptionCode = CxxExceptionCode});
    ReportUnhandledException(*FailureInFlight, FailureInFlight->RaiseAddress());
}

// C++ ends up here when it cannot unwind a failure: a fault in a frame
// whose cleanups do not cover the faulting instruction, or an exception
// leaving a cleanup. The run still ends with one report and exit code 1.
// A failure left to a debugger that let it go on gets no report, and a
// report that fails in turn ends the run without one.
[[noreturn]] void TerminateWithReport() {
    static bool entered = false;
    if (FailureDeclined || entered) EndRun(1);
    entered = true;
    try {
        ReportFailureInFlight();
    } catch (...) {
        EndRun(1);
    }
}

void StartRuntimeServices() {
    OutOfMemoryObject = std::make_unique<EOutOfMemory>(LoadResString(SOutOfMemory));
    PreviousTerminateHandler = std::set_terminate(&TerminateWithReport);
    CaptureVersionFacts();
}

void FinishRuntimeServices() {
    if (OutOfMemoryObject == nullptr) return;
    std::set_terminate(PreviousTerminateHandler);
    OutOfMemoryObject.reset();
}

void RunStartUpAndMainBlock() {
    StartRuntimeServices();
    MainBlockOfRun();
}

}  // namespace

void RunUnderTopLevelHandler(void (*mainBlock)()) {
    MainBlockOfRun = mainBlock;
    ExitCode = 0;
    FailureTaken = false;
    FailureDeclined = false;
    FailureInFlight.reset();
    if (!Os().RunUnderExceptionFrame(&RunStartUpAndMainBlock, &TopLevelExceptionHandler)) ReportFailureInFlight();
    EndRun(ExitCode);
}

bool TopLevelExceptionHandler(ExceptionPointers* failure) {
    if (FailureTaken) ReportFailureInFlight();
    if (Os().UnhandledExceptionFilter(failure) == static_cast<std::int32_t>(EXCEPTION_CONTINUE_SEARCH)) {
        FailureDeclined = true;
        return false;
    }
    FailureTaken = true;
    const ExceptionRecord& record = *failure->ExceptionRecord;
    if (record.ExceptionCode != CxxExceptionCode || !FailureInFlight) FailureInFlight = MapPlatformException(record);
    return true;
}

void ReportUnhandledException(const Exception& error, const void* address) {
    ShowExceptionReport(error, address);
    EndRun(1);
}

void EndRun(std::uint32_t exitCode) {
    ExitCode = exitCode;
    FinishRuntimeServices();
    Os().ExitProcess(ExitCode);
    std::abort();  // the process has ended; the compiler cannot know
}

void RaiseOutOfMemory(const void* address) {
    if (OutOfMemoryObject == nullptr) throw std::bad_alloc();
    EOutOfMemory error = *OutOfMemoryObject;
    error.SetRaiseAddress(address);
    FailureInFlight = error;
    throw error;
}

}  // namespace tessel

// The allocation functions are replaced so that a request that cannot be
// met is raised at the return address of the call that made it.
namespace {

[[gnu::always_inline]] inline void* Allocate(std::size_t size, const void* caller) {
    for (;;) {
        if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) tessel::RaiseOutOfMemory(caller);
        handler();
    }
}

}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
    return Allocate(size, __builtin_extract_return_addr(__builtin_return_address(0)));
}

[[gnu::noinline]] void* operator new[](std::size_t size) {
    return Allocate(size, __builtin_extract_return_addr(__builtin_return_address(0)));
}

// The blocks come from malloc, which the compiler does not see.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop
