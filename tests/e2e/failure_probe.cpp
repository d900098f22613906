// A program of the end-to-end suite that fails on purpose, as Tessel.exe
// itself never should: it runs a main block under the same outermost handler
// on the real platform, and writes to events.txt in its current directory
// each cleanup of its own and the message box and the exit that the handler
// asks the platform for, in the order they happen.
//
//   failure_probe.exe fault    writes through a null pointer
//   failure_probe.exe divide   divides an integer by zero
//   failure_probe.exe raise    raises EMaskException
//   failure_probe.exe memory   asks for more memory than there is
//   failure_probe.exe fault-beside-cleanup
//                              writes through a null pointer in a frame with
//                              a cleanup that does not cover the write
//   failure_probe.exe          returns normally
#include <cstdio>
#include <string>

#include "platform/win32/win32_platform.h"
#include "runtime/exception.h"
#include "runtime/top_level_handler.h"

#include <windows.h>

namespace {

void Record(const char* event) {
    if (FILE* file = std::fopen("events.txt", "a")) {
        std::fprintf(file, "%s\n", event);
        std::fclose(file);
    }
}

class RecordingPlatform : public tessel::Win32Platform {
public:
    int MessageBoxW(tessel::WindowHandle owner, const char16_t* text, const char16_t* caption,
                    std::uint32_t style) override {
        Record("box");
        return Win32Platform::MessageBoxW(owner, text, caption, style);
    }
    [[noreturn]] void ExitProcess(std::uint32_t exitCode) override {
        Record(exitCode == 0 ? "exit 0" : exitCode == 1 ? "exit 1" : "exit other");
        Win32Platform::ExitProcess(exitCode);
    }
};

struct Cleanup {
    const char* Event;
    ~Cleanup() { Record(Event); }
};

std::wstring Mode;
volatile int Zero = 0;
volatile int One = 1;
int* volatile Nowhere = nullptr;
char* volatile Block = nullptr;

// The failing functions have no cleanups of their own, so C++ can unwind a
// fault in them; their callers do have cleanups.
[[gnu::noinline]] void WriteNowhere() { *Nowhere = 1; }
[[gnu::noinline]] void DivideByZero() { Zero = One / Zero; }
[[gnu::noinline]] void AskTooMuch() { Block = new char[static_cast<std::size_t>(-1) / 4]; }
[[gnu::noinline]] void RaiseMask() { tessel::Raise<tessel::EMaskException>(u"raised on purpose"); }

// A fault at an instruction that the frame's own cleanups do not cover.
[[gnu::noinline]] void WriteNowhereBesideACleanup() {
    Cleanup beside{"cleanup beside"};
    *Nowhere = 1;
}

[[gnu::noinline]] void Fail() {
    if (Mode == L"fault") WriteNowhere();
    if (Mode == L"divide") DivideByZero();
    if (Mode == L"memory") AskTooMuch();
    if (Mode == L"raise") RaiseMask();
    if (Mode == L"fault-beside-cleanup") WriteNowhereBesideACleanup();
}

[[gnu::noinline]] void Inner() {
    Cleanup inner{"cleanup inner"};
    Fail();
}

void MainBlock() {
    Cleanup outer{"cleanup outer"};
    Inner();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    Mode = commandLine;
    static RecordingPlatform platform;
    tessel::SetPlatform(&platform);
    tessel::RunUnderTopLevelHandler(&MainBlock);
}
