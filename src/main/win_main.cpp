// The entry point of Tessel.exe: the real platform, the outermost handler,
// the main block, and the exit code handed to the process's end.
#include "main/tessel.h"
#include "platform/win32/win32_platform.h"
#include "runtime/top_level_handler.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    static tessel::Win32Platform platform;
    tessel::SetPlatform(&platform);
    ::ExitProcess(static_cast<UINT>(tessel::RunUnderTopLevelHandler(&tessel::MainBlock)));
}
