// The entry point of Tessel.exe: the real platform, then the outermost
// handler, under which the start-up steps and the main block run; the run
// ends the process with its exit code.
#include "main/tessel.h"
#include "platform/win32/win32_platform.h"
#include "runtime/top_level_handler.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tessel::RestrictLibrarySearch();
    static tessel::Win32Platform platform;
    tessel::SetPlatform(&platform);
    tessel::RunUnderTopLevelHandler(&tessel::MainBlock);
}
