#pragma once
// A desktop in plain structs for the host tests: windows, monitors,
// processes, launches, files and the version facts, built from a short
// table in each test. It records what the system asked of it (moves,
// launches, waits, closed handles, message boxes) so tests can assert on it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace tessel {

struct SimWindow {
    WindowHandle Handle = 0;
    std::uint32_t ProcessId = 1;
    std::u16string ClassName;
    std::u16string Title;
    Rect Frame;                      // the visible frame
    Rect Margins{7, 0, 7, 7};        // invisible borders: left, top, right, bottom
    bool Visible = true;
    bool Iconic = false;
    bool Zoomed = false;
    bool Hung = false;               // its thread handles no messages
    bool TopLevel = true;
    bool NoMonitor = false;          // MonitorFromWindow answers null
    bool RectUnreadable = false;     // GetWindowRect fails
    bool FrameUnreadable = false;    // DwmGetWindowAttribute fails for the frame bounds
    std::uint32_t Cloaked = 0;       // what DWMWA_CLOAKED answers (DWM_CLOAKED_SHELL is 2)
    bool CloakUnreadable = false;    // DwmGetWindowAttribute fails for DWMWA_CLOAKED
    bool OnOtherVirtualDesktop = false;
    bool MoveFails = false;
    int MovesUntilMarginsChange = -1;  // after this many moves the margins become NewMargins
    Rect NewMargins;
    // What the launch follow-up reads of a window.
    WindowHandle Owner = 0;
    std::uint32_t Style = 0x00CF0000;  // WS_OVERLAPPEDWINDOW: a title bar; a splash screen has none
    std::uint32_t ExStyle = 0;

    Rect WindowRect() const {
        return {ClampToInt32(std::int64_t{Frame.Left} - Margins.Left), ClampToInt32(std::int64_t{Frame.Top} - Margins.Top),
                ClampToInt32(std::int64_t{Frame.Right} + Margins.Right),
                ClampToInt32(std::int64_t{Frame.Bottom} + Margins.Bottom)};
    }
};

struct SimMonitor {
    Rect Area;
    Rect Work;
    bool InfoUnreadable = false;
};

enum class LaunchResult { Success, NoHandle, Failure };

struct SimProgram {
    LaunchResult Result = LaunchResult::Success;
    std::uint32_t ProcessId = 0;
    std::vector<SimWindow> Windows;  // created by the launch
    std::u16string ImagePath;        // the executable the process runs; empty: the launched file itself
    std::uint32_t IdleAfterMs = 0;   // how long WaitForInputIdle takes on the clock
};

/// A process as a snapshot lists it.
struct SimProcess {
    std::uint32_t ProcessId = 0;
    std::uint32_t ParentId = 0;
    std::u16string ImagePath;
};

struct SimMove {
    WindowHandle Window;
    std::int32_t X, Y, Width, Height;
    bool Repaint;
    friend bool operator==(const SimMove&, const SimMove&) = default;
};

struct SimLaunch {
    ShellExecuteInfo Info;  // as passed; the pointers are copied to the strings below
    bool DirectoryIsNull = false;
    std::u16string Verb, File, Directory;
    int ComDepth = 0;  // COM initialisations in force on the thread at the launch
};

/// An auto-hide bar that the shell names for an edge of a monitor.
struct SimAutoHideBar {
    Rect Monitor;
    std::uint32_t Edge;
    WindowHandle Window;
};

struct SimMessageBox {
    std::u16string Text, Caption;
    std::uint32_t Style;
};

class SimulatedDesktop : public Platform {
public:
    // The desktop.
    std::u16string CommandLine = u"Tessel.exe";
    std::vector<SimWindow> Windows;
    std::vector<SimMonitor> Monitors;
    std::map<std::u16string, SimProgram> Programs;  // by lpFile
    bool Composition = false;
    HResult CompositionResult = S_OK;
    bool DwmModuleMissing = false;
    bool DwmFunctionMissing = false;
    Rect VirtualScreen{0, 0, 1920, 1080};          // what GetSystemMetrics reports
    OsVersionInfo Version{OsVersionInfoExSize, 6, 1, 7601, 2, {}};
    std::optional<FixedFileInfo> Kernel32Version;  // absent: the version resource cannot be read
    std::optional<WkstaInfo100> Workstation;        // absent: NetWkstaGetInfo fails
    std::uint32_t AnsiCodePage = 1252;
    bool AnsiCodePageValid = true;
    std::u16string CurrentDirectory = u"/";      // relative file names resolve against it
    std::set<std::u16string> FilesOpenForWriting;  // full paths that another process writes
    std::uint32_t StdOutputType = 0;               // FILE_TYPE_DISK, _PIPE, _CHAR; 0: no standard output
    bool StdOutputFails = false;                   // WriteFile to it fails
    bool ParentConsole = false;                    // AttachConsole(ATTACH_PARENT_PROCESS) succeeds
    bool StdOutputIsConsole = false;               // GetConsoleMode succeeds on a FILE_TYPE_CHAR output
    std::map<std::u16string, std::uint32_t> FileReadFailures;  // full path: the error a read of it fails with
    std::map<std::u16string, std::uint32_t> FileReadLimits;    // full path: the bytes its reads deliver in all
    std::vector<SimAutoHideBar> AutoHideBars;
    bool VirtualDesktopManagerMissing = false;     // CoCreateInstance fails, as before Windows 10
    HResult ComInitialiseAnswer = S_OK;            // a failure plays a thread already in another apartment

    // What the system asked.
    std::vector<SimMove> Moves;
    std::vector<WindowHandle> Pings;  // windows asked with SendMessageTimeoutW whether they answer
    std::vector<SimLaunch> Launches;
    std::vector<ProcessHandle> Waits;
    std::vector<std::uintptr_t> ClosedHandles;
    std::vector<SimMessageBox> MessageBoxes;
    std::string StdOutput;        // the bytes written to standard output
    std::u16string ConsoleOutput; // the text written to the attached console
    int ConsoleAttaches = 0;      // AttachConsole calls
    int Enumerations = 0;
    int WindowVisits = 0;
    int DwmLoads = 0;
    std::vector<std::uint32_t> AppBarMessages;  // the messages SHAppBarMessage was sent
    int ComInitialisations = 0;                 // CoInitializeEx calls
    int ComDepth = 0;                           // successful ones not yet balanced by CoUninitialize
    int UnbalancedComReleases = 0;              // CoUninitialize calls with none in force
    int VirtualDesktopManagers = 0;             // made by CreateVirtualDesktopManager
    int ComObjectsReleased = 0;
    std::map<WindowHandle, int> ClassNameReads;  // GetClassNameW calls per window
    std::map<WindowHandle, int> TitleReads;      // GetWindowTextW calls per window

    /// Adds a window, giving it a handle when it has none; answers the handle.
    WindowHandle AddWindow(SimWindow window);
    SimWindow& Window(WindowHandle handle);

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

    // The failure path's view of memory: regions that VirtualQuery reports.
    struct Region {
        std::uintptr_t Base, Size, AllocationBase;
        std::uint32_t State;
        std::u16string ModulePath;  // empty: no module at AllocationBase
    };
    std::vector<Region> Regions;
    std::u16string ExecutablePath = u"C:\\Program Files\\Tessel\\Tessel.exe";

    // The outermost frame. Host C++ exceptions never pass through a platform
    // dispatch, so a failure is offered to the frame's handler once it has
    // reached the frame, its cleanups already run; a declined one leaves
    // RunUnderExceptionFrame as it came.
    std::int32_t FilterAnswer = 1;                // EXCEPTION_EXECUTE_HANDLER; 0 plays an attached debugger
    std::vector<std::uint32_t> FilteredFailures;  // the exception code of each failure the filter saw
    std::optional<std::uint32_t> ExitCode;        // set by ExitProcess, which then throws SimProcessExit
    std::function<void()> OnMessageBox;           // runs while a message box is open
    std::int32_t UnhandledExceptionFilter(ExceptionPointers* failure) override;
    [[noreturn]] void ExitProcess(std::uint32_t exitCode) override;
    bool RunUnderExceptionFrame(void (*body)(), FrameHandler handler) override;

    // Launch follow-up: the processes that run, and what happens when on the
    // clock (below), which Sleep and the wait for input idle advance, so that
    // a test plays seconds of a program's start without sleeping.
    std::vector<SimProcess> RunningProcesses;  // a launch with a handle adds its process
    std::uint32_t OwnProcessId = 1000;         // the system's own: the parent of every launch, the owner of its window
    WindowHandle Foreground = 0;
    bool SnapshotFails = false;
    std::vector<std::uint32_t> Sleeps;
    std::vector<EnumWindowsProc> EnumerationCallbacks;  // the callback of each EnumWindows call
    int Snapshots = 0;                                  // taken with CreateToolhelp32Snapshot
    std::vector<std::uint32_t> OpenedProcesses;         // the ids asked for with OpenProcess

    /// Runs `happen` once the clock has reached `time`.
    void At(std::uint64_t time, std::function<void()> happen);
    void StartProcess(std::uint32_t processId, std::uint32_t parentId, std::u16string imagePath);
    /// The process ends and its windows are destroyed; handles to it stay valid.
    void EndProcess(std::uint32_t processId);
    /// Process and snapshot handles given out and not closed.
    std::size_t OpenHandles() const { return Processes.size() + OpenSnapshots.size(); }

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

private:
    SimWindow* Find(WindowHandle handle);
    // Where each handle last stood in Windows, so that a crowded desktop
    // costs the same per query as a small one; tests edit Windows freely,
    // so an entry is checked on every use and the index rebuilt when stale.
    std::unordered_map<WindowHandle, std::size_t> WindowIndex;
    std::u16string FullPath(std::u16string_view name) const;
    WindowHandle NextHandle = 0x1000;
    std::uint32_t LastError = 0;
    std::map<FileHandle, std::shared_ptr<struct SimFile>> Files;
    FileHandle NextFile = 0x100;
    std::map<ProcessHandle, std::uint32_t> Processes;
    ProcessHandle NextProcess = 0x2000;
    std::vector<std::unique_ptr<char16_t[]>> Allocations;

public:
    // Watch mode. The clock only moves when the system waits: GetMessageW
    // jumps it to the next message or timer, WaitForSingleObject, Sleep and
    // WaitForInputIdle by their time, so a test of minutes takes no time at all.
    std::uint64_t Clock = 0;  // GetTickCount64, in milliseconds
    /// Ends the session: GetMessageW answers 0 once nothing is left before it.
    std::uint64_t SessionEnd = 24ull * 60 * 60 * 1000;
    struct SimChange {
        std::uint64_t At;
        std::uint32_t Message;
        std::uintptr_t WParam = 0;
        std::intptr_t LParam = 0;
        std::function<void()> Before;  // changes the desktop as the message comes
    };
    /// Has `change` come to every window of the system's window class at its
    /// time, as Windows sends such messages to every top-level window.
    void PostChange(SimChange change);
    struct SimBusy {
        std::uint64_t From, To;
        std::int32_t State;  // what SHQueryUserNotificationState answers meanwhile
    };
    std::vector<SimBusy> BusyTimes;
    bool WtsMissing = false;  // wtsapi32.dll cannot be resolved
    /// Another watcher: the window and the mutex of that name are its own;
    /// when it answers, a WM_CLOSE posted to its window ends it.
    struct SimOtherWatcher {
        WindowHandle Window = 0;
        std::u16string Mutex;
        bool Answers = true;
    };
    std::optional<SimOtherWatcher> OtherWatcher;
    /// Adds the other watcher with its window of that class and title.
    void AddOtherWatcher(const std::u16string& className, const std::u16string& title, const std::u16string& mutex,
                         bool answers, std::uint32_t processId);

    std::vector<std::uint64_t> PassTimes;  // the clock at each EnumWindows
    std::vector<WindowHandle> SessionNotifications;  // windows registered and not unregistered
    std::vector<Msg> Posted;  // every PostMessageW
    int TimerMessages = 0;
    int BusyQueries = 0;
    std::map<std::pair<WindowHandle, std::uintptr_t>, std::pair<std::uint64_t, std::uint32_t>> Timers;  // due, period
    std::map<std::uintptr_t, std::u16string> Mutexes;  // open handles and their names
    std::set<std::u16string> OwnedMutexes;

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

private:
    std::map<std::u16string, WindowProcedure> Classes;
    std::vector<SimChange> Changes;  // not yet delivered, in order of time
    std::vector<Msg> Queue;          // posted to the system's own windows
    bool QuitPosted = false;
    std::uintptr_t NextMutex = 0x3000;
    /// The one way the clock moves, so that whatever `At` scheduled happens
    /// on time whichever wait moved it.
    void Advance(std::uint64_t milliseconds);
    bool FillEntry(std::uintptr_t snapshot, ProcessEntry* entry);
    std::multimap<std::uint64_t, std::function<void()>> Schedule;
    struct Snapshot {
        std::vector<SimProcess> Entries;
        std::size_t Next = 0;
    };
    std::map<std::uintptr_t, Snapshot> OpenSnapshots;
    std::uintptr_t NextSnapshot = 0x9000;
};

// ---- Failure path: the outermost frame, the filter and the exit ----------

/// What the simulated ExitProcess throws, so that a test gets control back.
struct SimProcessExit {
    std::uint32_t ExitCode;
};

/// A platform exception as the processor or the platform would raise it.
struct SimPlatformException {
    ExceptionRecord Record;
};
[[noreturn]] void SimRaisePlatformException(const ExceptionRecord& record);

/// Installs a desktop as the platform for the lifetime of a test.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& platform) { SetPlatform(&platform); }
    ~ScopedPlatform() { SetPlatform(nullptr); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;
};

}  // namespace tessel
