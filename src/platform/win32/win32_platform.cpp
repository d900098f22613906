// The seam's header comes first: <windows.h> then turns the platform's
// constant names into macros of the same values, which is harmless here.
#include "platform/win32/win32_platform.h"

#include <windows.h>
#include <lm.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstddef>
#include <exception>
#include <string>

#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(Rect) == sizeof(RECT));
static_assert(sizeof(MonitorInfo) == sizeof(MONITORINFO) && sizeof(MONITORINFO) == MonitorInfoSize);
static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOEXW) && sizeof(OSVERSIONINFOEXW) == OsVersionInfoExSize);
static_assert(sizeof(OSVERSIONINFOW) == OsVersionInfoSize);
static_assert(sizeof(FixedFileInfo) == sizeof(VS_FIXEDFILEINFO));
static_assert(sizeof(WkstaInfo100) == sizeof(WKSTA_INFO_100) &&
              offsetof(WkstaInfo100, wki100_ver_minor) == offsetof(WKSTA_INFO_100, wki100_ver_minor));
static_assert(sizeof(SHELLEXECUTEINFOW) == ShellExecuteInfoSize);
static_assert(sizeof(AppBarData) == sizeof(APPBARDATA) && sizeof(APPBARDATA) == AppBarDataSize &&
              offsetof(AppBarData, rc) == offsetof(APPBARDATA, rc));
static_assert(sizeof(ExceptionRecord) == sizeof(EXCEPTION_RECORD) &&
              offsetof(ExceptionRecord, ExceptionAddress) == offsetof(EXCEPTION_RECORD, ExceptionAddress) &&
              offsetof(ExceptionRecord, ExceptionInformation) == offsetof(EXCEPTION_RECORD, ExceptionInformation));
static_assert(sizeof(ExceptionPointers) == sizeof(EXCEPTION_POINTERS));
static_assert(sizeof(ProcessEntry) == sizeof(PROCESSENTRY32W) && sizeof(PROCESSENTRY32W) == ProcessEntrySize &&
              offsetof(ProcessEntry, th32ParentProcessID) == offsetof(PROCESSENTRY32W, th32ParentProcessID) &&
              offsetof(ProcessEntry, szExeFile) == offsetof(PROCESSENTRY32W, szExeFile));

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
HANDLE Handle(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A C++ exception must not unwind through the platform's frames of the
// enumeration, so the callback hands it back across them to the caller.
struct EnumContext {
    EnumWindowsProc Proc;
    std::intptr_t Param;
    std::exception_ptr Failure;
};

BOOL CALLBACK EnumTrampoline(HWND window, LPARAM param) {
    auto* context = reinterpret_cast<EnumContext*>(param);
    try {
        return context->Proc(reinterpret_cast<WindowHandle>(window), context->Param) ? static_cast<BOOL>(-1) : FALSE;
    } catch (...) {
        context->Failure = std::current_exception();
        return FALSE;
    }
}

// The desktop window manager is absent from older systems, and no library
// beyond those every process has is linked: Windows looks for a library that
// is not a known system one in the program's own folder first, and a
// program run from a downloads folder would load whatever was saved beside
// it. So each such function is resolved on its first call, from the system
// folder by full path, and never linked.
constexpr DWORD DelayLoadModuleNotFound = 0xC06D007E;
constexpr DWORD DelayLoadProcNotFound = 0xC06D007F;

[[noreturn]] void RaiseDelayLoadFailure(DWORD code) {
    Raise<EExternalException>(FormatText(LoadResString(SExternalException), {static_cast<unsigned>(code)}));
}

struct SystemLibrary {
    const wchar_t* FileName;
    HMODULE Module;
};

SystemLibrary DwmApi{L"dwmapi.dll", nullptr};
SystemLibrary VersionApi{L"version.dll", nullptr};
SystemLibrary NetApi{L"netapi32.dll", nullptr};
SystemLibrary Ole32{L"ole32.dll", nullptr};
SystemLibrary WtsApi{L"wtsapi32.dll", nullptr};
SystemLibrary ShellApi{L"shell32.dll", nullptr};

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t directory[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(directory, length) + L"\\" + fileName;
    // The library's own imports are looked for beside it, in the system
    // folder, on systems that cannot restrict the search for the process.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC ResolveSystemFunction(SystemLibrary& library, const char* name) {
    if (library.Module == nullptr) library.Module = LoadSystemLibrary(library.FileName);
    if (library.Module == nullptr) RaiseDelayLoadFailure(DelayLoadModuleNotFound);
    const FARPROC function = ::GetProcAddress(library.Module, name);
    if (function == nullptr) RaiseDelayLoadFailure(DelayLoadProcNotFound);
    return function;
}

template <class Function>
Function SystemFunction(Function& slot, SystemLibrary& library, const char* name) {
    if (slot == nullptr)
        slot = reinterpret_cast<Function>(reinterpret_cast<void*>(ResolveSystemFunction(library, name)));
    return slot;
}

using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);
using DwmGetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
using NetWkstaGetInfoFn = NET_API_STATUS(WINAPI*)(LMSTR, DWORD, LPBYTE*);
using NetApiBufferFreeFn = NET_API_STATUS(WINAPI*)(LPVOID);
using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFn = void(WINAPI*)();
using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
DwmIsCompositionEnabledFn DwmIsCompositionEnabledSlot = nullptr;
DwmGetWindowAttributeFn DwmGetWindowAttributeSlot = nullptr;
GetFileVersionInfoSizeWFn GetFileVersionInfoSizeWSlot = nullptr;
GetFileVersionInfoWFn GetFileVersionInfoWSlot = nullptr;
VerQueryValueWFn VerQueryValueWSlot = nullptr;
NetWkstaGetInfoFn NetWkstaGetInfoSlot = nullptr;
NetApiBufferFreeFn NetApiBufferFreeSlot = nullptr;
CoInitializeExFn CoInitializeExSlot = nullptr;
CoUninitializeFn CoUninitializeSlot = nullptr;
CoCreateInstanceFn CoCreateInstanceSlot = nullptr;

// Spelt out here rather than linked from the import library of identifiers.
constexpr CLSID VirtualDesktopManagerClass = {
    0xaa509086, 0x5ca9, 0x4c25, {0x8f, 0x95, 0x58, 0x9d, 0x3c, 0x07, 0xb4, 0x8a}};
constexpr IID VirtualDesktopManagerInterface = {
    0xa5cd92ff, 0x29be, 0x454c, {0x8d, 0x04, 0xd8, 0x28, 0x79, 0xfb, 0x3f, 0x1b}};
using WTSRegisterSessionNotificationFn = BOOL(WINAPI*)(HWND, DWORD);
using WTSUnRegisterSessionNotificationFn = BOOL(WINAPI*)(HWND);
using SHQueryUserNotificationStateFn = HRESULT(WINAPI*)(int*);
WTSRegisterSessionNotificationFn WTSRegisterSessionNotificationSlot = nullptr;
WTSUnRegisterSessionNotificationFn WTSUnRegisterSessionNotificationSlot = nullptr;
SHQueryUserNotificationStateFn SHQueryUserNotificationStateSlot = nullptr;

}  // namespace

void RestrictLibrarySearch() {
    // Absent before Windows 8 without its update, so looked up rather than
    // linked; kernel32 is loaded in every process.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    constexpr DWORD LoadLibrarySearchSystem32 = 0x800;
    const auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (restrict != nullptr) restrict(LoadLibrarySearchSystem32);
}

// ---- Command line and launch -------------------------------------------

const char16_t* Win32Platform::GetCommandLineW() { return reinterpret_cast<const char16_t*>(::GetCommandLineW()); }

bool Win32Platform::ShellExecuteExW(ShellExecuteInfo* info) {
    SHELLEXECUTEINFOW record{};
    record.cbSize = info->cbSize;
    record.fMask = info->fMask;
    record.hwnd = Hwnd(info->hwnd);
    record.lpVerb = W(info->lpVerb);
    record.lpFile = W(info->lpFile);
    record.lpParameters = W(info->lpParameters);
    record.lpDirectory = W(info->lpDirectory);
    record.nShow = info->nShow;
    const BOOL launched = ::ShellExecuteExW(&record);
    info->hInstApp = reinterpret_cast<std::uintptr_t>(record.hInstApp);
    info->hProcess = reinterpret_cast<ProcessHandle>(record.hProcess);
    return launched != FALSE;
}

std::uint32_t Win32Platform::WaitForInputIdle(ProcessHandle process, std::uint32_t milliseconds) {
    return ::WaitForInputIdle(Handle(process), milliseconds);
}

std::uint32_t Win32Platform::GetProcessId(ProcessHandle process) {
    return process == 0 ? 0 : ::GetProcessId(Handle(process));
}

bool Win32Platform::CloseHandle(std::uintptr_t handle) { return ::CloseHandle(Handle(handle)) != FALSE; }

// ---- Files and text ----------------------------------------------------

FileHandle Win32Platform::CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t share,
                                      std::uint32_t creation, std::uint32_t attributes) {
    return reinterpret_cast<FileHandle>(::CreateFileW(W(name), access, share, nullptr, creation, attributes, nullptr));
}

std::uint32_t Win32Platform::SetFilePointer(FileHandle file, std::int32_t distance, std::uint32_t method) {
    return ::SetFilePointer(Handle(file), distance, nullptr, method);
}

bool Win32Platform::ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
    DWORD done = 0;
    const BOOL ok = ::ReadFile(Handle(file), buffer, count, &done, nullptr);
    *read = done;
    return ok != FALSE;
}

std::uint32_t Win32Platform::GetFullPathNameW(const char16_t* name, std::uint32_t size, char16_t* buffer) {
    return ::GetFullPathNameW(W(name), size, W(buffer), nullptr);
}

std::uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

std::uint32_t Win32Platform::FormatMessageW(std::uint32_t flags, std::uint32_t messageId, std::uint32_t languageId,
                                            char16_t** buffer) {
    *buffer = nullptr;
    return ::FormatMessageW(flags, nullptr, messageId, languageId, reinterpret_cast<LPWSTR>(buffer), 0, nullptr);
}

void Win32Platform::LocalFree(void* memory) { ::LocalFree(memory); }

std::uint32_t Win32Platform::GetACP() { return ::GetACP(); }

bool Win32Platform::GetCPInfo(std::uint32_t codePage) {
    CPINFO info;
    return ::GetCPInfo(codePage, &info) != FALSE;
}

int Win32Platform::MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* bytes, int count,
                                       char16_t* out, int outCount) {
    return ::MultiByteToWideChar(codePage, flags, bytes, count, W(out), outCount);
}

int Win32Platform::WideCharToMultiByte(std::uint32_t codePage, const char16_t* text, int count, char* out,
                                       int outCount) {
    return ::WideCharToMultiByte(codePage, 0, W(text), count, out, outCount, nullptr, nullptr);
}

// ---- Standard output and the console -----------------------------------

FileHandle Win32Platform::GetStdHandle(std::uint32_t which) {
    return reinterpret_cast<FileHandle>(::GetStdHandle(which));
}

std::uint32_t Win32Platform::GetFileType(FileHandle file) { return ::GetFileType(Handle(file)); }

bool Win32Platform::WriteFile(FileHandle file, const void* bytes, std::uint32_t count, std::uint32_t* written) {
    DWORD done = 0;
    const BOOL ok = ::WriteFile(Handle(file), bytes, count, &done, nullptr);
    *written = done;
    return ok != FALSE;
}

bool Win32Platform::AttachConsole(std::uint32_t processId) { return ::AttachConsole(processId) != FALSE; }

bool Win32Platform::WriteConsoleW(FileHandle console, const char16_t* text, std::uint32_t count,
                                  std::uint32_t* written) {
    DWORD done = 0;
    const BOOL ok = ::WriteConsoleW(Handle(console), text, count, &done, nullptr);
    *written = done;
    return ok != FALSE;
}

bool Win32Platform::GetConsoleMode(FileHandle handle, std::uint32_t* mode) {
    DWORD value = 0;
    const BOOL ok = ::GetConsoleMode(Handle(handle), &value);
    *mode = value;
    return ok != FALSE;
}

// ---- Windows and monitors ----------------------------------------------

int Win32Platform::GetWindowTextW(WindowHandle window, char16_t* buffer, int size) {
    return ::GetWindowTextW(Hwnd(window), W(buffer), size);
}

int Win32Platform::GetClassNameW(WindowHandle window, char16_t* buffer, int size) {
    return ::GetClassNameW(Hwnd(window), W(buffer), size);
}

bool Win32Platform::EnumWindows(EnumWindowsProc proc, std::intptr_t param) {
    EnumContext context{proc, param, nullptr};
    const BOOL completed = ::EnumWindows(&EnumTrampoline, reinterpret_cast<LPARAM>(&context));
    if (context.Failure) std::rethrow_exception(context.Failure);
    return completed != FALSE;
}

std::uint32_t Win32Platform::GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    DWORD id = 0;
    const DWORD thread = ::GetWindowThreadProcessId(Hwnd(window), &id);
    if (processId != nullptr) *processId = id;
    return thread;
}

bool Win32Platform::IsWindowVisible(WindowHandle window) { return ::IsWindowVisible(Hwnd(window)) != FALSE; }

bool Win32Platform::IsIconic(WindowHandle window) { return ::IsIconic(Hwnd(window)) != FALSE; }

bool Win32Platform::IsZoomed(WindowHandle window) { return ::IsZoomed(Hwnd(window)) != FALSE; }

MonitorHandle Win32Platform::MonitorFromWindow(WindowHandle window, std::uint32_t flags) {
    return reinterpret_cast<MonitorHandle>(::MonitorFromWindow(Hwnd(window), flags));
}

bool Win32Platform::GetMonitorInfoW(MonitorHandle monitor, MonitorInfo* info) {
    return ::GetMonitorInfoW(reinterpret_cast<HMONITOR>(monitor), reinterpret_cast<MONITORINFO*>(info)) != FALSE;
}

WindowHandle Win32Platform::GetAncestor(WindowHandle window, std::uint32_t flags) {
    return reinterpret_cast<WindowHandle>(::GetAncestor(Hwnd(window), flags));
}

WindowHandle Win32Platform::GetDesktopWindow() { return reinterpret_cast<WindowHandle>(::GetDesktopWindow()); }

bool Win32Platform::GetWindowRect(WindowHandle window, Rect* rect) {
    return ::GetWindowRect(Hwnd(window), reinterpret_cast<RECT*>(rect)) != FALSE;
}

bool Win32Platform::MoveWindow(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width,
                               std::int32_t height, bool repaint) {
    return ::MoveWindow(Hwnd(window), x, y, width, height, repaint ? static_cast<BOOL>(-1) : FALSE) != FALSE;
}

std::int32_t Win32Platform::GetSystemMetrics(std::int32_t index) { return ::GetSystemMetrics(index); }

bool Win32Platform::SendMessageTimeoutW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                        std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeout,
                                        std::uintptr_t* result) {
    DWORD_PTR answer = 0;
    const LRESULT sent = ::SendMessageTimeoutW(Hwnd(window), message, wParam, lParam, flags, timeout, &answer);
    if (result != nullptr) *result = answer;
    return sent != 0;
}

// ---- Desktop window manager --------------------------------------------

HResult Win32Platform::DwmIsCompositionEnabled(std::int32_t* enabled) {
    BOOL flag = FALSE;
    const HRESULT result = SystemFunction(DwmIsCompositionEnabledSlot, DwmApi, "DwmIsCompositionEnabled")(&flag);
    *enabled = flag;
    return result;
}

HResult Win32Platform::DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, void* value,
                                             std::uint32_t size) {
    return SystemFunction(DwmGetWindowAttributeSlot, DwmApi, "DwmGetWindowAttribute")(Hwnd(window), attribute, value,
                                                                                    size);
}

// ---- Docked bars and COM ------------------------------------------------

std::uintptr_t Win32Platform::SHAppBarMessage(std::uint32_t message, AppBarData* data) {
    return ::SHAppBarMessage(message, reinterpret_cast<APPBARDATA*>(data));
}

HResult Win32Platform::CoInitializeEx(std::uint32_t flags) {
    return SystemFunction(CoInitializeExSlot, Ole32, "CoInitializeEx")(nullptr, flags);
}

void Win32Platform::CoUninitialize() { SystemFunction(CoUninitializeSlot, Ole32, "CoUninitialize")(); }

HResult Win32Platform::CreateVirtualDesktopManager(ComObject* manager) {
    void* object = nullptr;
    const HRESULT result = SystemFunction(CoCreateInstanceSlot, Ole32, "CoCreateInstance")(
        VirtualDesktopManagerClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
        VirtualDesktopManagerInterface, &object);
    *manager = result == S_OK ? reinterpret_cast<ComObject>(object) : 0;
    return result;
}

HResult Win32Platform::IsWindowOnCurrentVirtualDesktop(ComObject manager, WindowHandle window,
                                                       std::int32_t* onCurrent) {
    BOOL answer = TRUE;
    const HRESULT result =
        reinterpret_cast<IVirtualDesktopManager*>(manager)->IsWindowOnCurrentVirtualDesktop(Hwnd(window), &answer);
    *onCurrent = answer;
    return result;
}

void Win32Platform::Release(ComObject object) { reinterpret_cast<IUnknown*>(object)->Release(); }

// ---- Version facts -----------------------------------------------------

bool Win32Platform::GetVersionExW(OsVersionInfo* info) {
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
}

std::uint32_t Win32Platform::GetFileVersionInfoSizeW(const char16_t* name) {
    DWORD handle = 0;
    return SystemFunction(GetFileVersionInfoSizeWSlot, VersionApi, "GetFileVersionInfoSizeW")(W(name), &handle);
}

bool Win32Platform::GetFileVersionInfoW(const char16_t* name, std::uint32_t size, void* block) {
    return SystemFunction(GetFileVersionInfoWSlot, VersionApi, "GetFileVersionInfoW")(W(name), 0, size, block) !=
           FALSE;
}

bool Win32Platform::VerQueryValueW(const void* block, const char16_t* subBlock, const void** value,
                                   std::uint32_t* length) {
    void* found = nullptr;
    UINT size = 0;
    const BOOL ok = SystemFunction(VerQueryValueWSlot, VersionApi, "VerQueryValueW")(block, W(subBlock), &found, &size);
    *value = found;
    *length = size;
    return ok != FALSE;
}

std::uint32_t Win32Platform::NetWkstaGetInfo(const char16_t* server, std::uint32_t level, void** buffer) {
    LPBYTE data = nullptr;
    const NET_API_STATUS status =
        SystemFunction(NetWkstaGetInfoSlot, NetApi, "NetWkstaGetInfo")(const_cast<LMSTR>(W(server)), level, &data);
    *buffer = data;
    return status;
}

std::uint32_t Win32Platform::NetApiBufferFree(void* buffer) {
    return SystemFunction(NetApiBufferFreeSlot, NetApi, "NetApiBufferFree")(buffer);
}

// ---- Failure path ------------------------------------------------------

std::size_t Win32Platform::VirtualQuery(const void* address, MemoryBasicInformation* info) {
    MEMORY_BASIC_INFORMATION region{};
    const SIZE_T size = ::VirtualQuery(address, &region, sizeof(region));
    info->BaseAddress = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
    info->AllocationBase = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
    info->RegionSize = region.RegionSize;
    info->State = region.State;
    return size;
}

std::uint32_t Win32Platform::GetModuleFileNameW(ModuleHandle module, char16_t* buffer, std::uint32_t size) {
    return ::GetModuleFileNameW(reinterpret_cast<HMODULE>(module), W(buffer), size);
}

int Win32Platform::LoadStringW(unsigned id, char16_t* buffer, int size) {
    return ::LoadStringW(::GetModuleHandleW(nullptr), id, W(buffer), size);
}

int Win32Platform::MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                               std::uint32_t style) {
    return ::MessageBoxW(Hwnd(owner), W(text), W(caption), style);
}

std::int32_t Win32Platform::UnhandledExceptionFilter(ExceptionPointers* failure) {
    return ::UnhandledExceptionFilter(reinterpret_cast<EXCEPTION_POINTERS*>(failure));
}

void Win32Platform::ExitProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }

// ---- The outermost frame -----------------------------------------------
//
// Its handler is one of the platform's frame-based exception handlers, so
// the dispatch offers it every failure that no inner frame handles while the
// stack is still whole: a debugger that the filter hands the failure to sees
// it where it happened.

namespace {

FrameHandler OutermostHandler = nullptr;

bool IsUnwinding(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0;
}

bool Offer(EXCEPTION_RECORD* record, CONTEXT* context) {
    EXCEPTION_POINTERS pointers{record, context};
    return OutermostHandler(reinterpret_cast<ExceptionPointers*>(&pointers));
}

}  // namespace

#if defined(__x86_64__)

// A 64-bit build dispatches C++ exceptions as platform exceptions, and the
// C++ cleanups of the frames between a failure and this one run only while
// a C++ exception unwinds them. So a taken failure is unwound by a C++
// exception of this frame's own, thrown from the handler: the dispatch
// unwinds through its own frames to the failure and on through every
// cleanup to the catch in RunUnderExceptionFrame.
namespace {

struct OutermostFrameUnwind {};
bool FrameUnwinding = false;

}  // namespace

extern "C" EXCEPTION_DISPOSITION TesselOutermostFrameHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context,
                                                             void*) {
    if (IsUnwinding(record)) return ExceptionContinueSearch;
    // The frame's own unwinding exception passing on its way out.
    if (FrameUnwinding && record->ExceptionCode == CxxExceptionCode) return ExceptionContinueSearch;
    if (!Offer(record, context)) return ExceptionContinueSearch;
    FrameUnwinding = true;
    throw OutermostFrameUnwind{};
}

// The frame itself: a function whose unwind information names the handler
// above for the dispatch. It calls the body it is given in rcx.
extern "C" void TesselOutermostFrame(void (*body)());
asm(R"(
    .text
    .globl TesselOutermostFrame
    .def TesselOutermostFrame; .scl 2; .type 32; .endef
    .seh_proc TesselOutermostFrame
TesselOutermostFrame:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler TesselOutermostFrameHandler, @except
    callq *%rcx
    nop
    addq $40, %rsp
    ret
    .seh_endproc
)");

bool Win32Platform::RunUnderExceptionFrame(void (*body)(), FrameHandler handler) {
    OutermostHandler = handler;
    try {
        TesselOutermostFrame(body);
        return true;
    } catch (const OutermostFrameUnwind&) {
        return false;
    }
}

#elif defined(__i386__)

// A 32-bit build's C++ exceptions never pass through the platform's
// dispatch; they unwind to the catch below, their cleanups run on the way,
// and nothing is offered. Processor and platform faults do reach the frame's
// handler, but this build's C++ runtime never sees them, so a taken fault
// in the program's own code is turned into a C++ exception where it
// happened: the thread resumes at the faulting instruction in a thunk that
// throws, as if that instruction had called it, and every cleanup between
// there and here runs. A fault elsewhere (inside a platform library, whose
// frames C++ cannot unwind) unwinds the platform's frames instead and
// resumes here without those cleanups.
namespace {

struct OutermostFrameUnwind {};

// Where the frame resumes after a fault outside the program, as
// __builtin_setjmp keeps it.
void* ResumeAfterFault[5];

}  // namespace

extern "C" [[noreturn, gnu::used]] void TesselThrowFrameUnwind() { throw OutermostFrameUnwind{}; }

// Entered in place of the faulting instruction with its address plus one in
// ecx: pushed as the return address, it makes the unwinder look up that
// instruction's frame. ecx is free: no landing pad relies on a scratch
// register.
extern "C" void TesselThrowAtFault();
asm(R"(
    .text
    .globl _TesselThrowAtFault
_TesselThrowAtFault:
    pushl %ecx
    jmp _TesselThrowFrameUnwind
)");

namespace {

bool InThisProgram(const void* address) {
    HMODULE module = nullptr;
    return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCWSTR>(address), &module) &&
           module == ::GetModuleHandleW(nullptr);
}

EXCEPTION_DISPOSITION NTAPI OutermostFrameHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*) {
    if (IsUnwinding(record)) return ExceptionContinueSearch;
    if (!Offer(record, context)) return ExceptionContinueSearch;
    if ((record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0 && InThisProgram(record->ExceptionAddress)) {
        context->Ecx = context->Eip + 1;
        context->Eip = reinterpret_cast<DWORD>(&TesselThrowAtFault);
        return ExceptionContinueExecution;
    }
    ::RtlUnwind(frame, nullptr, record, nullptr);
    __builtin_longjmp(ResumeAfterFault, 1);
}

// The head of the thread's list of frame handlers, at fs:[0].
EXCEPTION_REGISTRATION_RECORD* FirstFrame() {
    EXCEPTION_REGISTRATION_RECORD* frame;
    asm volatile("movl %%fs:0, %0" : "=r"(frame));
    return frame;
}

void SetFirstFrame(EXCEPTION_REGISTRATION_RECORD* frame) { asm volatile("movl %0, %%fs:0" : : "r"(frame) : "memory"); }

}  // namespace

bool Win32Platform::RunUnderExceptionFrame(void (*body)(), FrameHandler handler) {
    OutermostHandler = handler;
    EXCEPTION_REGISTRATION_RECORD frame{FirstFrame(), &OutermostFrameHandler};
    SetFirstFrame(&frame);
    volatile bool completed = false;
    if (__builtin_setjmp(ResumeAfterFault) == 0) {
        try {
            body();
            completed = true;
        } catch (...) {
        }
    }
    SetFirstFrame(frame.Next);
    return completed;
}

#else
#error "The outermost frame is built for x86 and x86-64 Windows only."
#endif

// ---- Watch mode --------------------------------------------------------

static_assert(sizeof(Msg) == sizeof(MSG) && offsetof(Msg, time) == offsetof(MSG, time));

namespace {

// The one class the system registers has this procedure. A C++ exception
// must not unwind through the platform's frames of the dispatch, so it is
// handed back across them to the caller of GetMessageW or DispatchMessageW.
WindowProcedure WindowProcedureSlot = nullptr;
std::exception_ptr WindowFailure;

LRESULT CALLBACK WindowTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return WindowProcedureSlot(reinterpret_cast<WindowHandle>(window), message, wParam, lParam);
    } catch (...) {
        WindowFailure = std::current_exception();
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void RethrowWindowFailure() {
    if (WindowFailure) {
        std::exception_ptr failure = WindowFailure;
        WindowFailure = nullptr;
        std::rethrow_exception(failure);
    }
}

}  // namespace

std::uint64_t Win32Platform::GetTickCount64() { return ::GetTickCount64(); }

std::uint16_t Win32Platform::RegisterClassExW(const char16_t* className, WindowProcedure procedure) {
    WindowProcedureSlot = procedure;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &WindowTrampoline;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = W(className);
    return ::RegisterClassExW(&windowClass);
}

WindowHandle Win32Platform::CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                                            const char16_t* windowName, std::uint32_t style) {
    const HWND window = ::CreateWindowExW(exStyle, W(className), W(windowName), style, 0, 0, 0, 0, nullptr, nullptr,
                                          ::GetModuleHandleW(nullptr), nullptr);
    RethrowWindowFailure();
    return reinterpret_cast<WindowHandle>(window);
}

bool Win32Platform::DestroyWindow(WindowHandle window) { return ::DestroyWindow(Hwnd(window)) != FALSE; }

std::intptr_t Win32Platform::DefWindowProcW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    return ::DefWindowProcW(Hwnd(window), message, wParam, lParam);
}

WindowHandle Win32Platform::FindWindowW(const char16_t* className, const char16_t* windowName) {
    return reinterpret_cast<WindowHandle>(::FindWindowW(W(className), W(windowName)));
}

bool Win32Platform::PostMessageW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    return ::PostMessageW(Hwnd(window), message, wParam, lParam) != FALSE;
}

int Win32Platform::GetMessageW(Msg* message) {
    const BOOL got = ::GetMessageW(reinterpret_cast<MSG*>(message), nullptr, 0, 0);
    RethrowWindowFailure();
    return got;
}

std::intptr_t Win32Platform::DispatchMessageW(const Msg* message) {
    const LRESULT result = ::DispatchMessageW(reinterpret_cast<const MSG*>(message));
    RethrowWindowFailure();
    return result;
}

void Win32Platform::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

std::uintptr_t Win32Platform::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
    return ::SetTimer(Hwnd(window), id, milliseconds, nullptr);
}

bool Win32Platform::KillTimer(WindowHandle window, std::uintptr_t id) {
    return ::KillTimer(Hwnd(window), id) != FALSE;
}

bool Win32Platform::WTSRegisterSessionNotification(WindowHandle window, std::uint32_t flags) {
    return SystemFunction(WTSRegisterSessionNotificationSlot, WtsApi, "WTSRegisterSessionNotification")(
               Hwnd(window), flags) != FALSE;
}

bool Win32Platform::WTSUnRegisterSessionNotification(WindowHandle window) {
    return SystemFunction(WTSUnRegisterSessionNotificationSlot, WtsApi, "WTSUnRegisterSessionNotification")(
               Hwnd(window)) != FALSE;
}

HResult Win32Platform::SHQueryUserNotificationState(std::int32_t* state) {
    int answer = 0;
    const HRESULT result =
        SystemFunction(SHQueryUserNotificationStateSlot, ShellApi, "SHQueryUserNotificationState")(&answer);
    *state = answer;
    return result;
}

std::uintptr_t Win32Platform::CreateMutexW(const char16_t* name) {
    return reinterpret_cast<std::uintptr_t>(::CreateMutexW(nullptr, FALSE, W(name)));
}

std::uint32_t Win32Platform::WaitForSingleObject(std::uintptr_t handle, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(Handle(handle), milliseconds);
}

bool Win32Platform::ReleaseMutex(std::uintptr_t mutex) { return ::ReleaseMutex(Handle(mutex)) != FALSE; }

// ---- Launch follow-up ----------------------------------------------------

std::uintptr_t Win32Platform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    return reinterpret_cast<std::uintptr_t>(::CreateToolhelp32Snapshot(flags, processId));
}

bool Win32Platform::Process32FirstW(std::uintptr_t snapshot, ProcessEntry* entry) {
    return ::Process32FirstW(Handle(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
}

bool Win32Platform::Process32NextW(std::uintptr_t snapshot, ProcessEntry* entry) {
    return ::Process32NextW(Handle(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
}

ProcessHandle Win32Platform::OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) {
    return reinterpret_cast<ProcessHandle>(::OpenProcess(access, inherit ? TRUE : FALSE, processId));
}

bool Win32Platform::QueryFullProcessImageNameW(ProcessHandle process, std::uint32_t flags, char16_t* buffer,
                                               std::uint32_t* size) {
    DWORD length = *size;
    const BOOL ok = ::QueryFullProcessImageNameW(Handle(process), flags, W(buffer), &length);
    *size = length;
    return ok != FALSE;
}

WindowHandle Win32Platform::GetForegroundWindow() { return reinterpret_cast<WindowHandle>(::GetForegroundWindow()); }

WindowHandle Win32Platform::GetWindow(WindowHandle window, std::uint32_t command) {
    return reinterpret_cast<WindowHandle>(::GetWindow(Hwnd(window), command));
}

std::int32_t Win32Platform::GetWindowLongW(WindowHandle window, std::int32_t index) {
    return ::GetWindowLongW(Hwnd(window), index);
}

void Win32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace tessel
