#pragma once
// The real side of the seam: each operation makes the Win32 call it names.
#include "platform/platform.h"

namespace tessel {

/// Restricts the process's search for libraries to the system folder where
/// the platform can (Windows 8, and 7 with its update); elsewhere nothing
/// changes.
void RestrictLibrarySearch();

class Win32Platform : public Platform {
public:
    const char16_t* GetCommandLineW() override;
    bool ShellExecuteExW(ShellExecuteInfo* info) override;
    std::uint32_t WaitForInputIdle(ProcessHandle process, std::uint32_t milliseconds) override;
    std::uint32_t GetProcessId(ProcessHandle process) override;
    bool CloseHandle(std::uintptr_t handle) override;

    FileHandle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                           std::uint32_t attributes) override;
    std::uint32_t SetFilePointer(FileHandle file, std::int32_t distance, std::uint32_t method) override;
    bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* read) override;
    std::uint32_t GetFullPathNameW(const char16_t* name, std::uint32_t size, char16_t* buffer) override;
    std::uint32_t GetLastError() override;
    std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t messageId, std::uint32_t languageId,
                                 char16_t** buffer) override;
    void LocalFree(void* memory) override;
    std::uint32_t GetACP() override;
    bool GetCPInfo(std::uint32_t codePage) override;
    int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* bytes, int count, char16_t* out,
                            int outCount) override;
    int WideCharToMultiByte(std::uint32_t codePage, const char16_t* text, int count, char* out, int outCount) override;
    FileHandle GetStdHandle(std::uint32_t which) override;
    std::uint32_t GetFileType(FileHandle file) override;
    bool WriteFile(FileHandle file, const void* bytes, std::uint32_t count, std::uint32_t* written) override;
    bool AttachConsole(std::uint32_t processId) override;
    bool WriteConsoleW(FileHandle console, const char16_t* text, std::uint32_t count, std::uint32_t* written) override;
    bool GetConsoleMode(FileHandle handle, std::uint32_t* mode) override;

    int GetWindowTextW(WindowHandle window, char16_t* buffer, int size) override;
    int GetClassNameW(WindowHandle window, char16_t* buffer, int size) override;

    bool EnumWindows(EnumWindowsProc proc, std::intptr_t param) override;
    std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) override;
    bool IsWindowVisible(WindowHandle window) override;
    bool IsIconic(WindowHandle window) override;
    bool IsZoomed(WindowHandle window) override;
    MonitorHandle MonitorFromWindow(WindowHandle window, std::uint32_t flags) override;
    bool GetMonitorInfoW(MonitorHandle monitor, MonitorInfo* info) override;
    WindowHandle GetAncestor(WindowHandle window, std::uint32_t flags) override;
    WindowHandle GetDesktopWindow() override;
    bool GetWindowRect(WindowHandle window, Rect* rect) override;
    bool MoveWindow(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                    bool repaint) override;
    std::int32_t GetSystemMetrics(std::int32_t index) override;
    bool SendMessageTimeoutW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                             std::uint32_t flags, std::uint32_t timeout, std::uintptr_t* result) override;

    HResult DwmIsCompositionEnabled(std::int32_t* enabled) override;
    HResult DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, void* value,
                                  std::uint32_t size) override;

    std::uintptr_t SHAppBarMessage(std::uint32_t message, AppBarData* data) override;

    HResult CoInitializeEx(std::uint32_t flags) override;
    void CoUninitialize() override;
    HResult CreateVirtualDesktopManager(ComObject* manager) override;
    HResult IsWindowOnCurrentVirtualDesktop(ComObject manager, WindowHandle window, std::int32_t* onCurrent) override;
    void Release(ComObject object) override;

    bool GetVersionExW(OsVersionInfo* info) override;
    std::uint32_t GetFileVersionInfoSizeW(const char16_t* name) override;
    bool GetFileVersionInfoW(const char16_t* name, std::uint32_t size, void* block) override;
    bool VerQueryValueW(const void* block, const char16_t* subBlock, const void** value,
                        std::uint32_t* length) override;
    std::uint32_t NetWkstaGetInfo(const char16_t* server, std::uint32_t level, void** buffer) override;
    std::uint32_t NetApiBufferFree(void* buffer) override;

    std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info) override;
    std::uint32_t GetModuleFileNameW(ModuleHandle module, char16_t* buffer, std::uint32_t size) override;
    int LoadStringW(unsigned id, char16_t* buffer, int size) override;
    int MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption, std::uint32_t style) override;
    std::int32_t UnhandledExceptionFilter(ExceptionPointers* failure) override;
    [[noreturn]] void ExitProcess(std::uint32_t exitCode) override;
    bool RunUnderExceptionFrame(void (*body)(), FrameHandler handler) override;

    // Watch mode.
    std::uint64_t GetTickCount64() override;
    std::uint16_t RegisterClassExW(const char16_t* className, WindowProcedure procedure) override;
    WindowHandle CreateWindowExW(std::uint32_t exStyle, const char16_t* className, const char16_t* windowName,
                                 std::uint32_t style) override;
    bool DestroyWindow(WindowHandle window) override;
    std::intptr_t DefWindowProcW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) override;
    WindowHandle FindWindowW(const char16_t* className, const char16_t* windowName) override;
    bool PostMessageW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    int GetMessageW(Msg* message) override;
    std::intptr_t DispatchMessageW(const Msg* message) override;
    void PostQuitMessage(int exitCode) override;
    std::uintptr_t SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) override;
    bool KillTimer(WindowHandle window, std::uintptr_t id) override;
    bool WTSRegisterSessionNotification(WindowHandle window, std::uint32_t flags) override;
    bool WTSUnRegisterSessionNotification(WindowHandle window) override;
    HResult SHQueryUserNotificationState(std::int32_t* state) override;
    std::uintptr_t CreateMutexW(const char16_t* name) override;
    std::uint32_t WaitForSingleObject(std::uintptr_t handle, std::uint32_t milliseconds) override;
    bool ReleaseMutex(std::uintptr_t mutex) override;

    // Launch follow-up.
    std::uintptr_t CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32FirstW(std::uintptr_t snapshot, ProcessEntry* entry) override;
    bool Process32NextW(std::uintptr_t snapshot, ProcessEntry* entry) override;
    ProcessHandle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override;
    bool QueryFullProcessImageNameW(ProcessHandle process, std::uint32_t flags, char16_t* buffer,
                                    std::uint32_t* size) override;
    WindowHandle GetForegroundWindow() override;
    WindowHandle GetWindow(WindowHandle window, std::uint32_t command) override;
    std::int32_t GetWindowLongW(WindowHandle window, std::int32_t index) override;
    void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace tessel
