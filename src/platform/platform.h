#pragma once
// The one seam between Tessel and the operating system. Every platform call
// of the system goes through `Platform`, whose operations carry the Win32
// names. `platform/win32` makes the real calls; `platform/sim` is a simulated
// desktop for the host tests. Nothing above this header includes <windows.h>:
// handles are opaque integers and records mirror the Win32 ones field by field.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessel {

using WindowHandle = std::uintptr_t;
using MonitorHandle = std::uintptr_t;
using ProcessHandle = std::uintptr_t;
using FileHandle = std::uintptr_t;
using ModuleHandle = std::uintptr_t;
using HResult = std::int32_t;
using ComObject = std::uintptr_t;  // an interface pointer, kept opaque above the seam

constexpr FileHandle InvalidHandleValue = ~FileHandle{0};

struct Point {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    // 64 bits wide: a rectangle whose edges lie near the ends of the 32-bit
    // range has no 32-bit width.
    std::int64_t Width() const { return std::int64_t{Right} - Left; }
    std::int64_t Height() const { return std::int64_t{Bottom} - Top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

/// The 32-bit value nearest to `value`: a coordinate computed from an extreme
/// rectangle stops at the end of the range instead of wrapping round to the
/// other side of the screen.
constexpr std::int32_t ClampToInt32(std::int64_t value) {
    return value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(value);
}

// MONITORINFO
struct MonitorInfo {
    std::uint32_t cbSize = 0;
    Rect rcMonitor;
    Rect rcWork;
    std::uint32_t dwFlags = 0;
};
constexpr std::uint32_t MonitorInfoSize = 40;

// APPBARDATA
struct AppBarData {
    std::uint32_t cbSize = 0;
    WindowHandle hWnd = 0;
    std::uint32_t uCallbackMessage = 0;
    std::uint32_t uEdge = 0;
    Rect rc;
    std::intptr_t lParam = 0;
};
// sizeof(APPBARDATA) on the target.
constexpr std::uint32_t AppBarDataSize = sizeof(void*) == 4 ? 36 : 48;

// SHELLEXECUTEINFOW; the fields a launch sets, in the platform's order.
struct ShellExecuteInfo {
    std::uint32_t cbSize = 0;
    std::uint32_t fMask = 0;
    WindowHandle hwnd = 0;
    const char16_t* lpVerb = nullptr;
    const char16_t* lpFile = nullptr;
    const char16_t* lpParameters = nullptr;
    const char16_t* lpDirectory = nullptr;
    std::int32_t nShow = 0;
    std::uintptr_t hInstApp = 0;
    void* lpIDList = nullptr;
    const char16_t* lpClass = nullptr;
    std::uintptr_t hkeyClass = 0;
    std::uint32_t dwHotKey = 0;
    std::uintptr_t hIcon = 0;
    ProcessHandle hProcess = 0;
};
// sizeof(SHELLEXECUTEINFOW) on the target: 60 bytes for a 32-bit program.
constexpr std::uint32_t ShellExecuteInfoSize = sizeof(void*) == 4 ? 60 : 112;

// OSVERSIONINFOEXW; its first 276 bytes are OSVERSIONINFOW.
struct OsVersionInfo {
    std::uint32_t dwOSVersionInfoSize = 0;
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    char16_t szCSDVersion[128] = {};
    std::uint16_t wServicePackMajor = 0;
    std::uint16_t wServicePackMinor = 0;
    std::uint16_t wSuiteMask = 0;
    std::uint8_t wProductType = 0;
    std::uint8_t wReserved = 0;
};
constexpr std::uint32_t OsVersionInfoSize = 276;
constexpr std::uint32_t OsVersionInfoExSize = 284;

// VS_FIXEDFILEINFO
struct FixedFileInfo {
    std::uint32_t dwSignature = 0;
    std::uint32_t dwStrucVersion = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
    std::uint32_t dwFileFlagsMask = 0;
    std::uint32_t dwFileFlags = 0;
    std::uint32_t dwFileOS = 0;
    std::uint32_t dwFileType = 0;
    std::uint32_t dwFileSubtype = 0;
    std::uint32_t dwFileDateMS = 0;
    std::uint32_t dwFileDateLS = 0;
};

// WKSTA_INFO_100
struct WkstaInfo100 {
    std::uint32_t wki100_platform_id = 0;
    const char16_t* wki100_computername = nullptr;
    const char16_t* wki100_langroup = nullptr;
    std::uint32_t wki100_ver_major = 0;
    std::uint32_t wki100_ver_minor = 0;
};

// MEMORY_BASIC_INFORMATION, the fields the failure report reads.
struct MemoryBasicInformation {
    std::uintptr_t BaseAddress = 0;
    std::uintptr_t AllocationBase = 0;
    std::uintptr_t RegionSize = 0;
    std::uint32_t State = 0;
};

// PROCESSENTRY32W, field by field.
struct ProcessEntry {
    std::uint32_t dwSize = 0;
    std::uint32_t cntUsage = 0;
    std::uint32_t th32ProcessID = 0;
    std::uintptr_t th32DefaultHeapID = 0;
    std::uint32_t th32ModuleID = 0;
    std::uint32_t cntThreads = 0;
    std::uint32_t th32ParentProcessID = 0;
    std::int32_t pcPriClassBase = 0;
    std::uint32_t dwFlags = 0;
    char16_t szExeFile[260] = {};
};
// sizeof(PROCESSENTRY32W) on the target.
constexpr std::uint32_t ProcessEntrySize = sizeof(void*) == 4 ? 556 : 568;

// EXCEPTION_RECORD, field by field; ExceptionInformation holds the
// parameters of the exception, NumberParameters of them.
struct ExceptionRecord {
    std::uint32_t ExceptionCode = 0;
    std::uint32_t ExceptionFlags = 0;
    ExceptionRecord* NestedRecord = nullptr;
    const void* ExceptionAddress = nullptr;
    std::uint32_t NumberParameters = 0;
    std::uintptr_t ExceptionInformation[15] = {};
};

// EXCEPTION_POINTERS; the context record stays opaque above the seam.
struct ExceptionPointers {
    tessel::ExceptionRecord* ExceptionRecord;
    void* ContextRecord;
};

/// The exception code under which the platform's dispatch carries a C++
/// exception of this system (a 64-bit Windows build dispatches every C++
/// throw as a platform exception with this code).
constexpr std::uint32_t CxxExceptionCode = 0x20474343;

/// Offered a failure that the platform's dispatch has met, before any
/// cleanup runs; answers whether the outermost frame takes it.
using FrameHandler = bool (*)(ExceptionPointers* failure);

// Constants of the calls, with the platform's values.
constexpr std::uint32_t SEE_MASK_NOCLOSEPROCESS = 0x40;
constexpr std::int32_t SW_SHOW = 5;
constexpr std::uint32_t INFINITE = 0xFFFFFFFF;
constexpr std::uint32_t MONITOR_DEFAULTTONEAREST = 2;
constexpr std::uint32_t GA_PARENT = 1;
constexpr std::uint32_t DWMWA_EXTENDED_FRAME_BOUNDS = 9;
constexpr std::uint32_t DWMWA_CLOAKED = 14;
constexpr std::uint32_t MONITORINFOF_PRIMARY = 1;
constexpr std::uint32_t ABM_GETAUTOHIDEBAR = 7;
constexpr std::uint32_t ABM_GETAUTOHIDEBAREX = 11;
constexpr std::uint32_t ABE_LEFT = 0;
constexpr std::uint32_t ABE_BOTTOM = 3;
constexpr std::uint32_t COINIT_APARTMENTTHREADED = 2;
constexpr std::uint32_t COINIT_DISABLE_OLE1DDE = 4;
constexpr std::int32_t SM_XVIRTUALSCREEN = 76;
constexpr std::int32_t SM_YVIRTUALSCREEN = 77;
constexpr std::int32_t SM_CXVIRTUALSCREEN = 78;
constexpr std::int32_t SM_CYVIRTUALSCREEN = 79;
constexpr std::uint32_t WM_NULL = 0;
constexpr std::uint32_t SMTO_ABORTIFHUNG = 2;
constexpr std::uint32_t GENERIC_READ = 0x80000000;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
constexpr std::uint32_t FILE_SHARE_READ = 1;
constexpr std::uint32_t FILE_SHARE_WRITE = 2;
constexpr std::uint32_t STD_OUTPUT_HANDLE = static_cast<std::uint32_t>(-11);
constexpr std::uint32_t FILE_TYPE_DISK = 1;
constexpr std::uint32_t FILE_TYPE_CHAR = 2;
constexpr std::uint32_t FILE_TYPE_PIPE = 3;
constexpr std::uint32_t ATTACH_PARENT_PROCESS = static_cast<std::uint32_t>(-1);
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr std::uint32_t FILE_BEGIN = 0;
constexpr std::uint32_t FILE_CURRENT = 1;
constexpr std::uint32_t FILE_END = 2;
constexpr std::uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr std::uint32_t FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr std::uint32_t FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr std::uint32_t FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr std::uint32_t FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;
constexpr std::uint32_t MB_ERR_INVALID_CHARS = 8;
constexpr std::uint32_t CP_UTF8 = 65001;
constexpr std::uint32_t MEM_COMMIT = 0x1000;
constexpr std::uint32_t MEM_FREE = 0x10000;
constexpr std::uint32_t EXCEPTION_CONTINUE_SEARCH = 0;
// The launch follow-up's.
constexpr std::uint32_t TH32CS_SNAPPROCESS = 2;
constexpr std::uint32_t PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr std::uint32_t GW_OWNER = 4;
constexpr std::int32_t GWL_STYLE = -16;
constexpr std::int32_t GWL_EXSTYLE = -20;
constexpr std::uint32_t WS_CAPTION = 0x00C00000;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;
constexpr HResult S_OK = 0;
constexpr HResult S_FALSE = 1;

/// Called once per top-level window by `EnumWindows`; answering false ends
/// the enumeration.
using EnumWindowsProc = bool (*)(WindowHandle window, std::intptr_t param);

// Watch mode: its window, messages and timers, the session and power
// notifications, and the one watcher per session.
constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_SETTINGCHANGE = 0x001A;
constexpr std::uint32_t WM_DISPLAYCHANGE = 0x007E;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_POWERBROADCAST = 0x0218;
constexpr std::uint32_t WM_WTSSESSION_CHANGE = 0x02B1;
constexpr std::uint32_t SPI_SETWORKAREA = 0x002F;
constexpr std::uint32_t PBT_APMSUSPEND = 0x0004;
constexpr std::uint32_t PBT_APMRESUMESUSPEND = 0x0007;
constexpr std::uint32_t PBT_APMRESUMEAUTOMATIC = 0x0012;
constexpr std::uint32_t WTS_SESSION_LOCK = 0x7;
constexpr std::uint32_t WTS_SESSION_UNLOCK = 0x8;
constexpr std::uint32_t NOTIFY_FOR_THIS_SESSION = 0;
constexpr std::int32_t QUNS_BUSY = 2;
constexpr std::int32_t QUNS_RUNNING_D3D_FULL_SCREEN = 3;
constexpr std::int32_t QUNS_PRESENTATION_MODE = 4;
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_EX_TOOLWINDOW = 0x00000080;
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_ABANDONED = 0x80;
constexpr std::uint32_t WAIT_TIMEOUT = 0x102;

// MSG
struct Msg {
    WindowHandle hwnd = 0;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::uint32_t time = 0;
    Point pt;
};

/// The window procedure of the one window class the system registers.
using WindowProcedure = std::intptr_t (*)(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam);

class Platform {
public:
    virtual ~Platform() = default;

    // Command line and launch.
    virtual const char16_t* GetCommandLineW() = 0;
    virtual bool ShellExecuteExW(ShellExecuteInfo* info) = 0;
    virtual std::uint32_t WaitForInputIdle(ProcessHandle process, std::uint32_t milliseconds) = 0;
    virtual std::uint32_t GetProcessId(ProcessHandle process) = 0;
    virtual bool CloseHandle(std::uintptr_t handle) = 0;

    // Files and text.
    virtual FileHandle CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t share,
                                   std::uint32_t creation, std::uint32_t attributes) = 0;
    virtual std::uint32_t SetFilePointer(FileHandle file, std::int32_t distance, std::uint32_t method) = 0;
    virtual bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* read) = 0;
    /// Writes the full path into `buffer` and answers its length, or, when
    /// `size` is too small, the size needed; 0 when no path is formed.
    virtual std::uint32_t GetFullPathNameW(const char16_t* name, std::uint32_t size, char16_t* buffer) = 0;
    virtual std::uint32_t GetLastError() = 0;
    /// FORMAT_MESSAGE_ALLOCATE_BUFFER is the only form used: the platform's
    /// text for `messageId` is stored in `*buffer`, to be released with
    /// `LocalFree`; the answer is its length (0 when there is none).
    virtual std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t messageId, std::uint32_t languageId,
                                         char16_t** buffer) = 0;
    virtual void LocalFree(void* memory) = 0;
    virtual std::uint32_t GetACP() = 0;
    virtual bool GetCPInfo(std::uint32_t codePage) = 0;
    virtual int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* bytes, int count,
                                    char16_t* out, int outCount) = 0;
    /// With `outCount` 0, answers the size needed; a lone surrogate becomes
    /// U+FFFD in UTF-8.
    virtual int WideCharToMultiByte(std::uint32_t codePage, const char16_t* text, int count, char* out,
                                    int outCount) = 0;

    // Standard output and the console, for the window list only.
    /// 0 or InvalidHandleValue when the process has none.
    virtual FileHandle GetStdHandle(std::uint32_t which) = 0;
    virtual std::uint32_t GetFileType(FileHandle file) = 0;
    virtual bool WriteFile(FileHandle file, const void* bytes, std::uint32_t count, std::uint32_t* written) = 0;
    virtual bool AttachConsole(std::uint32_t processId) = 0;
    virtual bool WriteConsoleW(FileHandle console, const char16_t* text, std::uint32_t count,
                               std::uint32_t* written) = 0;
    /// Fails for a handle that is not a console.
    virtual bool GetConsoleMode(FileHandle handle, std::uint32_t* mode) = 0;

    // Window texts: at most size - 1 units and a terminating zero.
    virtual int GetWindowTextW(WindowHandle window, char16_t* buffer, int size) = 0;
    virtual int GetClassNameW(WindowHandle window, char16_t* buffer, int size) = 0;

    // Windows and monitors.
    virtual bool EnumWindows(EnumWindowsProc proc, std::intptr_t param) = 0;
    virtual std::uint32_t GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) = 0;
    virtual bool IsWindowVisible(WindowHandle window) = 0;
    virtual bool IsIconic(WindowHandle window) = 0;
    virtual bool IsZoomed(WindowHandle window) = 0;
    virtual MonitorHandle MonitorFromWindow(WindowHandle window, std::uint32_t flags) = 0;
    virtual bool GetMonitorInfoW(MonitorHandle monitor, MonitorInfo* info) = 0;
    virtual WindowHandle GetAncestor(WindowHandle window, std::uint32_t flags) = 0;
    virtual WindowHandle GetDesktopWindow() = 0;
    virtual bool GetWindowRect(WindowHandle window, Rect* rect) = 0;
    virtual bool MoveWindow(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width,
                            std::int32_t height, bool repaint) = 0;
    virtual std::int32_t GetSystemMetrics(std::int32_t index) = 0;
    /// Non-zero when the window's thread handled the message within
    /// `timeout` milliseconds; `result` receives its answer.
    virtual bool SendMessageTimeoutW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeout,
                                     std::uintptr_t* result) = 0;

    // Desktop window manager, resolved from the system folder's dwmapi.dll on
    // the first call of each function; a module or function that cannot be
    // resolved raises EExternalException with code C06D007E or C06D007F.
    virtual HResult DwmIsCompositionEnabled(std::int32_t* enabled) = 0;
    virtual HResult DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, void* value,
                                          std::uint32_t size) = 0;

    // The shell's bars docked at the monitors' edges (shell32).
    virtual std::uintptr_t SHAppBarMessage(std::uint32_t message, AppBarData* data) = 0;

    // COM, resolved like the desktop window manager's functions, from the
    // system folder's ole32.dll, with the same failures.
    virtual HResult CoInitializeEx(std::uint32_t flags) = 0;
    virtual void CoUninitialize() = 0;
    /// CoCreateInstance of the shell's VirtualDesktopManager for its
    /// IVirtualDesktopManager; `*manager` is 0 unless the answer is S_OK.
    virtual HResult CreateVirtualDesktopManager(ComObject* manager) = 0;
    virtual HResult IsWindowOnCurrentVirtualDesktop(ComObject manager, WindowHandle window,
                                                    std::int32_t* onCurrent) = 0;
    /// IUnknown::Release.
    virtual void Release(ComObject object) = 0;

    // Version facts. The version and network-management functions are
    // resolved like the desktop window manager's, from version.dll and
    // netapi32.dll in the system folder, with the same failures.
    virtual bool GetVersionExW(OsVersionInfo* info) = 0;
    virtual std::uint32_t GetFileVersionInfoSizeW(const char16_t* name) = 0;
    virtual bool GetFileVersionInfoW(const char16_t* name, std::uint32_t size, void* block) = 0;
    virtual bool VerQueryValueW(const void* block, const char16_t* subBlock, const void** value,
                                std::uint32_t* length) = 0;
    virtual std::uint32_t NetWkstaGetInfo(const char16_t* server, std::uint32_t level, void** buffer) = 0;
    virtual std::uint32_t NetApiBufferFree(void* buffer) = 0;

    // Failure path.
    virtual std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info) = 0;
    /// Module 0 names the program's own executable.
    virtual std::uint32_t GetModuleFileNameW(ModuleHandle module, char16_t* buffer, std::uint32_t size) = 0;
    virtual int LoadStringW(unsigned id, char16_t* buffer, int size) = 0;
    virtual int MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                            std::uint32_t style) = 0;
    /// EXCEPTION_CONTINUE_SEARCH (0) when a debugger is attached; whatever
    /// else the platform does with the failure besides answering is its own.
    virtual std::int32_t UnhandledExceptionFilter(ExceptionPointers* failure) = 0;
    [[noreturn]] virtual void ExitProcess(std::uint32_t exitCode) = 0;
    /// Calls `body` inside the outermost frame of the platform's exception
    /// dispatch (an SEH frame on Windows). Each failure that the dispatch
    /// meets while `body` runs is offered to `handler` first; a failure it
    /// takes is unwound to this frame, running every pending cleanup, and
    /// the answer is false. A failure it declines is left to the platform.
    /// A C++ exception that the platform never dispatches (a 32-bit build's)
    /// is unwound to this frame without the offer. True when `body` returns.
    virtual bool RunUnderExceptionFrame(void (*body)(), FrameHandler handler) = 0;

    // Watch mode.
    virtual std::uint64_t GetTickCount64() = 0;
    /// Registers the class with `procedure` as its window procedure; 0 when
    /// it cannot. A process registers one such class at most.
    virtual std::uint16_t RegisterClassExW(const char16_t* className, WindowProcedure procedure) = 0;
    /// A top-level window of no size at 0, 0, without parent or menu.
    virtual WindowHandle CreateWindowExW(std::uint32_t exStyle, const char16_t* className, const char16_t* windowName,
                                         std::uint32_t style) = 0;
    virtual bool DestroyWindow(WindowHandle window) = 0;
    virtual std::intptr_t DefWindowProcW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam) = 0;
    virtual WindowHandle FindWindowW(const char16_t* className, const char16_t* windowName) = 0;
    virtual bool PostMessageW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) = 0;
    /// Every message of the thread; 0 at WM_QUIT, -1 on failure.
    virtual int GetMessageW(Msg* message) = 0;
    virtual std::intptr_t DispatchMessageW(const Msg* message) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;
    virtual std::uintptr_t SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) = 0;
    virtual bool KillTimer(WindowHandle window, std::uintptr_t id) = 0;
    // Resolved like the desktop window manager's, from wtsapi32.dll and
    // shell32.dll in the system folder, with the same failures.
    virtual bool WTSRegisterSessionNotification(WindowHandle window, std::uint32_t flags) = 0;
    virtual bool WTSUnRegisterSessionNotification(WindowHandle window) = 0;
    virtual HResult SHQueryUserNotificationState(std::int32_t* state) = 0;
    /// A mutex of that name, not owned by the caller; 0 on failure.
    virtual std::uintptr_t CreateMutexW(const char16_t* name) = 0;
    virtual std::uint32_t WaitForSingleObject(std::uintptr_t handle, std::uint32_t milliseconds) = 0;
    virtual bool ReleaseMutex(std::uintptr_t mutex) = 0;

    // Launch follow-up; its clock is GetTickCount64 above.
    /// InvalidHandleValue on failure; released with CloseHandle.
    virtual std::uintptr_t CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) = 0;
    /// `entry->dwSize` is set to ProcessEntrySize before the first call.
    virtual bool Process32FirstW(std::uintptr_t snapshot, ProcessEntry* entry) = 0;
    virtual bool Process32NextW(std::uintptr_t snapshot, ProcessEntry* entry) = 0;
    /// 0 when the process cannot be opened (gone, or another user's).
    virtual ProcessHandle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) = 0;
    /// `*size` holds the buffer's size in units on entry and the path's
    /// length on success.
    virtual bool QueryFullProcessImageNameW(ProcessHandle process, std::uint32_t flags, char16_t* buffer,
                                            std::uint32_t* size) = 0;
    virtual WindowHandle GetForegroundWindow() = 0;
    virtual WindowHandle GetWindow(WindowHandle window, std::uint32_t command) = 0;
    virtual std::int32_t GetWindowLongW(WindowHandle window, std::int32_t index) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

/// The platform in force; set once at start-up (or by a test).
Platform& Os();
void SetPlatform(Platform* platform);

/// COM on the calling thread for the life of the object, in the apartment
/// the shell's objects expect. A thread that already has COM keeps it; each
/// successful initialisation, S_FALSE included, is balanced on release.
class TComApartment {
public:
    TComApartment();
    ~TComApartment();
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    bool FInitialised;
};

}  // namespace tessel
