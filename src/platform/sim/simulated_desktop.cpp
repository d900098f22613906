#include "platform/sim/simulated_desktop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iconv.h>
#include <optional>
#include <sys/stat.h>
#include <stdexcept>
#include <unistd.h>

#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

constexpr std::uint32_t ErrorInvalidFunction = 1;
constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorPathNotFound = 3;
constexpr std::uint32_t ErrorAccessDenied = 5;
constexpr std::uint32_t ErrorInvalidHandle = 6;
constexpr std::uint32_t ErrorSharingViolation = 32;
constexpr std::uint32_t ErrorReadFault = 30;
constexpr std::uint32_t ErrorHandleEof = 38;
constexpr std::uint32_t ErrorNetnameDeleted = 64;
constexpr std::uint32_t ErrorInvalidParameter = 87;
constexpr std::uint32_t ErrorInsufficientBuffer = 122;
constexpr std::uint32_t ErrorInvalidName = 123;
constexpr std::uint32_t ErrorNegativeSeek = 131;
constexpr std::uint32_t ErrorFilenameExcedRange = 206;
constexpr std::uint32_t ErrorNoUnicodeTranslation = 1113;
constexpr WindowHandle DesktopHandle = 0x10;
constexpr FileHandle StdOutputHandle = 0x30;
constexpr FileHandle ConsoleHandle = 0x34;
constexpr ComObject VirtualDesktopManagerObject = 0x7000;

// The string table of the executable, generated from the resource script.
struct TableEntry {
    unsigned Id;
    const char16_t* Text;
};
constexpr TableEntry StringTable[] = {
#include "string_table_data.inc"
};

std::int64_t Overlap(const Rect& a, const Rect& b) {
    const std::int64_t w = std::int64_t{std::min(a.Right, b.Right)} - std::max(a.Left, b.Left);
    const std::int64_t h = std::int64_t{std::min(a.Bottom, b.Bottom)} - std::max(a.Top, b.Top);
    return w > 0 && h > 0 ? w * h : 0;
}

std::int64_t Distance(const Rect& a, const Rect& b) {
    const std::int64_t dx = std::max<std::int64_t>({0, std::int64_t{b.Left} - a.Right, std::int64_t{a.Left} - b.Right});
    const std::int64_t dy = std::max<std::int64_t>({0, std::int64_t{b.Top} - a.Bottom, std::int64_t{a.Top} - b.Bottom});
    return dx * dx + dy * dy;
}

int CopyOut(const std::u16string& text, char16_t* buffer, int size) {
    if (size <= 0) return 0;
    const int n = std::min<int>(static_cast<int>(text.size()), size - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
    return n;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/// Decodes UTF-8. Strict: false at the first invalid sequence. Otherwise
/// each invalid byte becomes U+FFFD, as the platform does without flags.
bool DecodeUtf8(const unsigned char* p, int count, std::u16string& out, bool strict) {
    int i = 0;
    while (i < count) {
        const unsigned c = p[i];
        int extra = 0;
        char32_t value = c;
        char32_t minimum = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, value = c & 0x1F, minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, value = c & 0x0F, minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, value = c & 0x07, minimum = 0x10000;
        } else if (c >= 0x80) {
            value = 0x110000;  // a byte that cannot start a sequence
        }
        bool valid = value < 0x110000 && i + extra < count;
        for (int k = 1; valid && k <= extra; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            value = (value << 6) | (p[i + k] & 0x3F);
        }
        valid = valid && value >= minimum && value <= 0x10FFFF && !(value >= 0xD800 && value < 0xE000);
        if (!valid) {
            if (strict) return false;
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (value >> 10));
            out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
        i += extra + 1;
    }
    return true;
}

std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()), out, false);
    return out;
}

/// Bytes that the platform's tables map but iconv's do not: the five holes
/// of code page 1252 stand for the C1 controls of the same value, and code
/// page 932 has its single-byte extensions.
std::optional<char16_t> PlatformOnlyByte(std::uint32_t codePage, unsigned char byte) {
    if (codePage == 1252 && (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D))
        return byte;
    if (codePage == 932) {
        if (byte == 0x80) return u'\u0080';
        if (byte == 0xA0) return u'\uF8F0';
        if (byte >= 0xFD) return static_cast<char16_t>(0xF8F1 + (byte - 0xFD));
    }
    return std::nullopt;
}

/// The character that stands for bytes a code page cannot map.
char16_t DefaultCharacter(std::uint32_t codePage) { return codePage == 932 ? u'\u30FB' : u'?'; }

bool CodePageKnown(std::uint32_t codePage) {
    const iconv_t cd = iconv_open("UTF-16LE", ("CP" + std::to_string(codePage)).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

/// An ANSI code page through iconv, completed by the platform's own
/// mappings; a byte neither maps becomes the default character, as
/// MultiByteToWideChar without flags does. Unknown code pages give nothing.
std::u16string DecodeCodePage(std::uint32_t codePage, const char* bytes, int count) {
    const iconv_t cd = iconv_open("UTF-16LE", ("CP" + std::to_string(codePage)).c_str());
    std::u16string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = static_cast<std::size_t>(count);
    while (inLeft > 0) {
        char16_t chunk[256];
        char* dst = reinterpret_cast<char*>(chunk);
        std::size_t dstLeft = sizeof(chunk);
        const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(chunk, (sizeof(chunk) - dstLeft) / 2);
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An unmappable byte, or a lead byte without its trail byte.
            out += PlatformOnlyByte(codePage, static_cast<unsigned char>(*in)).value_or(DefaultCharacter(codePage));
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

/// The platform's error code for a failed open(2).
std::uint32_t OpenError(int error, const std::string& path) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EISDIR: return ErrorAccessDenied;
        case ENAMETOOLONG: return ErrorFilenameExcedRange;
        case ENOTDIR: return ErrorPathNotFound;
        case ENOENT: {
            // A missing directory on the way is a missing path, not a missing file.
            struct stat info;
            const std::string parent = std::filesystem::path(path).parent_path().string();
            return parent.empty() || (::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                       ? ErrorFileNotFound
                       : ErrorPathNotFound;
        }
        default: return ErrorFileNotFound;
    }
}

}  // namespace

struct SimFile {
    int Descriptor = -1;
    std::u16string Path;
    std::uint32_t Delivered = 0;
    ~SimFile() {
        if (Descriptor >= 0) ::close(Descriptor);
    }
};

WindowHandle SimulatedDesktop::AddWindow(SimWindow window) {
    if (window.Handle == 0) window.Handle = NextHandle += 0x10;
    Windows.push_back(std::move(window));
    return Windows.back().Handle;
}

SimWindow& SimulatedDesktop::Window(WindowHandle handle) {
    SimWindow* window = Find(handle);
    if (window == nullptr) throw std::out_of_range("no such simulated window");
    return *window;
}

SimWindow* SimulatedDesktop::Find(WindowHandle handle) {
    const auto fits = [&](auto entry) {
        return entry != WindowIndex.end() && entry->second < Windows.size() && Windows[entry->second].Handle == handle;
    };
    if (auto entry = WindowIndex.find(handle); fits(entry)) return &Windows[entry->second];
    WindowIndex.clear();
    // emplace keeps the first of equal handles, as a search from the front would.
    for (std::size_t i = 0; i < Windows.size(); ++i) WindowIndex.emplace(Windows[i].Handle, i);
    const auto entry = WindowIndex.find(handle);
    return fits(entry) ? &Windows[entry->second] : nullptr;
}

// ---- Command line and launch -------------------------------------------

const char16_t* SimulatedDesktop::GetCommandLineW() { return CommandLine.c_str(); }

bool SimulatedDesktop::ShellExecuteExW(ShellExecuteInfo* info) {
    SimLaunch launch{*info, info->lpDirectory == nullptr, info->lpVerb ? info->lpVerb : u"",
                     info->lpFile ? info->lpFile : u"", info->lpDirectory ? info->lpDirectory : u""};
    launch.ComDepth = ComDepth;
    Launches.push_back(launch);
    const auto found = Programs.find(launch.File);
    if (found == Programs.end() || found->second.Result == LaunchResult::Failure) {
        LastError = ErrorFileNotFound;
        return false;
    }
    for (const SimWindow& window : found->second.Windows) {
        SimWindow copy = window;
        copy.ProcessId = found->second.ProcessId;
        copy.Handle = 0;
        AddWindow(copy);
    }
    if (found->second.Result == LaunchResult::Success && (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0) {
        info->hProcess = NextProcess += 4;
        Processes[info->hProcess] = found->second.ProcessId;
        const std::uint32_t id = found->second.ProcessId;
        if (std::none_of(RunningProcesses.begin(), RunningProcesses.end(),
                         [id](const SimProcess& p) { return p.ProcessId == id; }))
            StartProcess(id, OwnProcessId,
                         found->second.ImagePath.empty() ? launch.File : found->second.ImagePath);
    }
    return true;
}

std::uint32_t SimulatedDesktop::WaitForInputIdle(ProcessHandle process, std::uint32_t) {
    Waits.push_back(process);
    const auto handle = Processes.find(process);
    if (handle == Processes.end()) return INFINITE;
    for (const auto& [file, program] : Programs)
        if (program.ProcessId == handle->second && program.IdleAfterMs != 0) {
            Advance(program.IdleAfterMs);
            break;
        }
    return 0;
}

std::uint32_t SimulatedDesktop::GetProcessId(ProcessHandle process) {
    const auto found = Processes.find(process);
    return found == Processes.end() ? 0 : found->second;
}

bool SimulatedDesktop::CloseHandle(std::uintptr_t handle) {
    ClosedHandles.push_back(handle);
    if (Files.erase(handle) != 0 || Mutexes.erase(handle) != 0 || OpenSnapshots.erase(handle) != 0 ||
        handle == ConsoleHandle)
        return true;
    return Processes.erase(handle) != 0;
}

// ---- Windows and monitors ----------------------------------------------

int SimulatedDesktop::GetWindowTextW(WindowHandle window, char16_t* buffer, int size) {
    ++TitleReads[window];
    const SimWindow* w = Find(window);
    return CopyOut(w ? w->Title : u"", buffer, size);
}

int SimulatedDesktop::GetClassNameW(WindowHandle window, char16_t* buffer, int size) {
    ++ClassNameReads[window];
    const SimWindow* w = Find(window);
    return CopyOut(w ? w->ClassName : u"", buffer, size);
}

bool SimulatedDesktop::EnumWindows(EnumWindowsProc proc, std::intptr_t param) {
    ++Enumerations;
    PassTimes.push_back(Clock);
    EnumerationCallbacks.push_back(proc);
    // By handle, so that windows added meanwhile do not invalidate the walk.
    std::vector<WindowHandle> handles;
    for (const SimWindow& window : Windows)
        if (window.TopLevel) handles.push_back(window.Handle);
    for (WindowHandle handle : handles) {
        ++WindowVisits;
        if (!proc(handle, param)) return false;
    }
    return true;
}

std::uint32_t SimulatedDesktop::GetWindowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    const SimWindow* w = Find(window);
    if (processId != nullptr) *processId = w ? w->ProcessId : 0;
    return w ? 1 : 0;
}

bool SimulatedDesktop::IsWindowVisible(WindowHandle window) {
    const SimWindow* w = Find(window);
    return w && w->Visible;
}

bool SimulatedDesktop::IsIconic(WindowHandle window) {
    const SimWindow* w = Find(window);
    return w && w->Iconic;
}

bool SimulatedDesktop::IsZoomed(WindowHandle window) {
    const SimWindow* w = Find(window);
    return w && w->Zoomed;
}

MonitorHandle SimulatedDesktop::MonitorFromWindow(WindowHandle window, std::uint32_t) {
    const SimWindow* w = Find(window);
    if (w == nullptr || w->NoMonitor || Monitors.empty()) return 0;
    // The monitor that holds most of the window; with no overlap, the closest.
    const Rect r = w->WindowRect();
    std::size_t best = 0;
    for (std::size_t i = 1; i < Monitors.size(); ++i) {
        const std::int64_t a = Overlap(r, Monitors[i].Area), b = Overlap(r, Monitors[best].Area);
        if (a > b || (a == 0 && b == 0 && Distance(r, Monitors[i].Area) < Distance(r, Monitors[best].Area)))
            best = i;
    }
    return 0x5000 + best;
}

bool SimulatedDesktop::GetMonitorInfoW(MonitorHandle monitor, MonitorInfo* info) {
    const std::size_t index = monitor - 0x5000;
    if (monitor < 0x5000 || index >= Monitors.size() || Monitors[index].InfoUnreadable) return false;
    if (info->cbSize != MonitorInfoSize) return false;
    info->rcMonitor = Monitors[index].Area;
    info->rcWork = Monitors[index].Work;
    info->dwFlags = index == 0 ? 1 : 0;
    return true;
}

WindowHandle SimulatedDesktop::GetAncestor(WindowHandle window, std::uint32_t) {
    const SimWindow* w = Find(window);
    return w && w->TopLevel ? DesktopHandle : 0x20;
}

WindowHandle SimulatedDesktop::GetDesktopWindow() { return DesktopHandle; }

bool SimulatedDesktop::GetWindowRect(WindowHandle window, Rect* rect) {
    const SimWindow* w = Find(window);
    if (w == nullptr || w->RectUnreadable) return false;
    *rect = w->WindowRect();
    return true;
}

bool SimulatedDesktop::MoveWindow(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width,
                                  std::int32_t height, bool repaint) {
    Moves.push_back({window, x, y, width, height, repaint});
    SimWindow* w = Find(window);
    if (w == nullptr || w->MoveFails) return false;
    if (w->MovesUntilMarginsChange > 0 && --w->MovesUntilMarginsChange == 0) w->Margins = w->NewMargins;
    const std::int64_t right = std::int64_t{x} + width, bottom = std::int64_t{y} + height;
    w->Frame = {ClampToInt32(std::int64_t{x} + w->Margins.Left), ClampToInt32(std::int64_t{y} + w->Margins.Top),
                ClampToInt32(right - w->Margins.Right), ClampToInt32(bottom - w->Margins.Bottom)};
    return true;
}

std::int32_t SimulatedDesktop::GetSystemMetrics(std::int32_t index) {
    switch (index) {
    case SM_XVIRTUALSCREEN: return VirtualScreen.Left;
    case SM_YVIRTUALSCREEN: return VirtualScreen.Top;
    case SM_CXVIRTUALSCREEN: return ClampToInt32(VirtualScreen.Width());
    case SM_CYVIRTUALSCREEN: return ClampToInt32(VirtualScreen.Height());
    default: return 0;
    }
}

bool SimulatedDesktop::SendMessageTimeoutW(WindowHandle window, std::uint32_t, std::uintptr_t, std::intptr_t,
                                           std::uint32_t, std::uint32_t, std::uintptr_t* result) {
    Pings.push_back(window);
    const SimWindow* w = Find(window);
    if (result != nullptr) *result = 0;
    return w != nullptr && !w->Hung;
}

// ---- Desktop window manager --------------------------------------------

HResult SimulatedDesktop::DwmIsCompositionEnabled(std::int32_t* enabled) {
    ++DwmLoads;
    if (DwmModuleMissing) Raise<EExternalException>(FormatText(LoadResString(SExternalException), {0xC06D007Eu}));
    if (DwmFunctionMissing) Raise<EExternalException>(FormatText(LoadResString(SExternalException), {0xC06D007Fu}));
    *enabled = Composition ? 1 : 0;
    return CompositionResult;
}

HResult SimulatedDesktop::DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, void* value,
                                                std::uint32_t size) {
    const SimWindow* w = Find(window);
    constexpr auto NotImplemented = static_cast<HResult>(0x80004001);  // E_NOTIMPL, as Wine answers
    if (w != nullptr && attribute == DWMWA_CLOAKED && size == sizeof(std::uint32_t) && !w->CloakUnreadable) {
        std::memcpy(value, &w->Cloaked, sizeof(std::uint32_t));
        return S_OK;
    }
    if (w == nullptr || w->FrameUnreadable || attribute != DWMWA_EXTENDED_FRAME_BOUNDS || size != sizeof(Rect))
        return NotImplemented;
    std::memcpy(value, &w->Frame, sizeof(Rect));
    return S_OK;
}

// ---- Docked bars and COM ------------------------------------------------

std::uintptr_t SimulatedDesktop::SHAppBarMessage(std::uint32_t message, AppBarData* data) {
    AppBarMessages.push_back(message);
    if (data->cbSize != AppBarDataSize) return 0;
    // Before Windows 8 the shell keeps auto-hide bars for the primary monitor only.
    const bool perMonitor = message == ABM_GETAUTOHIDEBAREX;
    if (!perMonitor && (message != ABM_GETAUTOHIDEBAR || Monitors.empty())) return 0;
    for (const SimAutoHideBar& bar : AutoHideBars)
        if (bar.Edge == data->uEdge && bar.Monitor == (perMonitor ? data->rc : Monitors[0].Area)) return bar.Window;
    return 0;
}

HResult SimulatedDesktop::CoInitializeEx(std::uint32_t) {
    ++ComInitialisations;
    if (ComInitialiseAnswer < 0) return ComInitialiseAnswer;
    return ComDepth++ == 0 ? S_OK : S_FALSE;
}

void SimulatedDesktop::CoUninitialize() {
    if (ComDepth == 0) {
        ++UnbalancedComReleases;
        return;
    }
    --ComDepth;
}

HResult SimulatedDesktop::CreateVirtualDesktopManager(ComObject* manager) {
    *manager = 0;
    if (ComDepth == 0 && ComInitialiseAnswer >= 0) return static_cast<HResult>(0x800401F0);  // CO_E_NOTINITIALIZED
    if (VirtualDesktopManagerMissing) return static_cast<HResult>(0x80040154);  // REGDB_E_CLASSNOTREG
    ++VirtualDesktopManagers;
    *manager = VirtualDesktopManagerObject;
    return S_OK;
}

HResult SimulatedDesktop::IsWindowOnCurrentVirtualDesktop(ComObject manager, WindowHandle window,
                                                          std::int32_t* onCurrent) {
    const SimWindow* w = Find(window);
    if (manager != VirtualDesktopManagerObject || w == nullptr) return static_cast<HResult>(0x80070057);  // E_INVALIDARG
    *onCurrent = w->OnOtherVirtualDesktop ? 0 : 1;
    return S_OK;
}

void SimulatedDesktop::Release(ComObject) { ++ComObjectsReleased; }

// ---- Version facts -----------------------------------------------------

bool SimulatedDesktop::GetVersionExW(OsVersionInfo* info) {
    if (info->dwOSVersionInfoSize != OsVersionInfoSize && info->dwOSVersionInfoSize != OsVersionInfoExSize)
        return false;
    const std::uint32_t size = info->dwOSVersionInfoSize;
    *info = Version;
    info->dwOSVersionInfoSize = size;
    return true;
}

std::uint32_t SimulatedDesktop::GetFileVersionInfoSizeW(const char16_t* name) {
    return Kernel32Version && std::u16string_view(name) == u"kernel32.dll" ? sizeof(FixedFileInfo) : 0;
}

bool SimulatedDesktop::GetFileVersionInfoW(const char16_t* name, std::uint32_t size, void* block) {
    if (!Kernel32Version || std::u16string_view(name) != u"kernel32.dll" || size < sizeof(FixedFileInfo))
        return false;
    std::memcpy(block, &*Kernel32Version, sizeof(FixedFileInfo));
    return true;
}

bool SimulatedDesktop::VerQueryValueW(const void* block, const char16_t* subBlock, const void** value,
                                      std::uint32_t* length) {
    if (std::u16string_view(subBlock) != u"\\") return false;
    *value = block;
    *length = sizeof(FixedFileInfo);
    return true;
}

std::uint32_t SimulatedDesktop::NetWkstaGetInfo(const char16_t*, std::uint32_t level, void** buffer) {
    *buffer = nullptr;
    if (!Workstation || level != 100) return 53;  // ERROR_BAD_NETPATH
    *buffer = new WkstaInfo100(*Workstation);
    return 0;
}

std::uint32_t SimulatedDesktop::NetApiBufferFree(void* buffer) {
    delete static_cast<WkstaInfo100*>(buffer);
    return 0;
}

// ---- Failure path ------------------------------------------------------

std::size_t SimulatedDesktop::VirtualQuery(const void* address, MemoryBasicInformation* info) {
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    for (const Region& region : Regions) {
        if (a >= region.Base && a - region.Base < region.Size) {
            *info = {region.Base, region.AllocationBase, region.Size, region.State};
            return sizeof(*info);
        }
    }
    *info = {a & ~std::uintptr_t{0xFFFF}, 0, 0x10000, MEM_FREE};
    return sizeof(*info);
}

std::uint32_t SimulatedDesktop::GetModuleFileNameW(ModuleHandle module, char16_t* buffer, std::uint32_t size) {
    std::u16string path;
    if (module == 0) {
        path = ExecutablePath;
    } else {
        for (const Region& region : Regions)
            if (region.AllocationBase == module && !region.ModulePath.empty()) path = region.ModulePath;
    }
    if (path.empty() || size == 0) return 0;
    return static_cast<std::uint32_t>(CopyOut(path, buffer, static_cast<int>(size)));
}

int SimulatedDesktop::LoadStringW(unsigned id, char16_t* buffer, int size) {
    for (const TableEntry& entry : StringTable)
        if (entry.Id == id) return CopyOut(entry.Text, buffer, size);
    return CopyOut(u"", buffer, size);
}

int SimulatedDesktop::MessageBoxW(WindowHandle, const char16_t* text, const char16_t* caption,
                                  std::uint32_t style) {
    MessageBoxes.push_back({text, caption, style});
    if (OnMessageBox) OnMessageBox();
    return 1;  // IDOK
}

// ---- Failure path: the outermost frame, the filter and the exit ----------

void SimRaisePlatformException(const ExceptionRecord& record) { throw SimPlatformException{record}; }

std::int32_t SimulatedDesktop::UnhandledExceptionFilter(ExceptionPointers* failure) {
    FilteredFailures.push_back(failure->ExceptionRecord->ExceptionCode);
    return FilterAnswer;
}

void SimulatedDesktop::ExitProcess(std::uint32_t exitCode) {
    ExitCode = exitCode;
    throw SimProcessExit{exitCode};
}

bool SimulatedDesktop::RunUnderExceptionFrame(void (*body)(), FrameHandler handler) {
    try {
        body();
        return true;
    } catch (const SimPlatformException& raised) {
        ExceptionRecord record = raised.Record;
        ExceptionPointers failure{&record, nullptr};
        if (!handler(&failure)) throw;
        return false;
    } catch (const Exception&) {
        ExceptionRecord record{.ExceptionCode = CxxExceptionCode};
        ExceptionPointers failure{&record, nullptr};
        if (!handler(&failure)) throw;
        return false;
    }
}

// ---- Files and text ----------------------------------------------------
// Real files of the host, so that the same rules files serve both sides.

FileHandle SimulatedDesktop::CreateFileW(const char16_t* name, std::uint32_t access, std::uint32_t share,
                                         std::uint32_t creation, std::uint32_t) {
    const std::u16string_view view(name);
    if (view == u"CONOUT$" && ConsoleAttaches > 0 && ParentConsole) return ConsoleHandle;
    if (view.empty()) {
        LastError = ErrorPathNotFound;
        return InvalidHandleValue;
    }
    if (access != GENERIC_READ || creation != OPEN_EXISTING) {
        LastError = ErrorAccessDenied;
        return InvalidHandleValue;
    }
    const std::u16string full = FullPath(view);
    // A writer elsewhere conflicts with any open that does not share writing.
    if (FilesOpenForWriting.count(full) != 0 && (share & FILE_SHARE_WRITE) == 0) {
        LastError = ErrorSharingViolation;
        return InvalidHandleValue;
    }
    const std::string path = ToUtf8(full);
    auto file = std::make_shared<SimFile>();
    file->Path = full;
    // Not blocking, so that a named pipe without a writer cannot hang the open.
    file->Descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file->Descriptor < 0) {
        LastError = OpenError(errno, path);
        return InvalidHandleValue;
    }
    // Without backup semantics a directory cannot be opened as a file.
    struct stat info;
    if (::fstat(file->Descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        LastError = ErrorAccessDenied;
        return InvalidHandleValue;
    }
    const FileHandle handle = NextFile += 4;
    Files[handle] = file;
    return handle;
}

std::uint32_t SimulatedDesktop::SetFilePointer(FileHandle file, std::int32_t distance, std::uint32_t method) {
    const auto found = Files.find(file);
    if (found == Files.end() || method > FILE_END) {
        LastError = found == Files.end() ? ErrorInvalidHandle : ErrorInvalidParameter;
        return INVALID_SET_FILE_POINTER;
    }
    const int descriptor = found->second->Descriptor;
    const off_t before = ::lseek(descriptor, 0, SEEK_CUR);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(descriptor, distance, whence);
    if (at < 0) {
        LastError = errno == EINVAL ? ErrorNegativeSeek : ErrorInvalidFunction;
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high half, a position beyond 32 bits is a failure and the
    // pointer stays where it was.
    if (at >= static_cast<off_t>(INVALID_SET_FILE_POINTER)) {
        ::lseek(descriptor, before, SEEK_SET);
        LastError = ErrorInvalidParameter;
        return INVALID_SET_FILE_POINTER;
    }
    return static_cast<std::uint32_t>(at);
}

bool SimulatedDesktop::ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
    *read = 0;
    const auto found = Files.find(file);
    if (found == Files.end()) {
        LastError = ErrorInvalidHandle;
        return false;
    }
    SimFile& opened = *found->second;
    if (const auto failure = FileReadFailures.find(opened.Path); failure != FileReadFailures.end()) {
        LastError = failure->second;
        return false;
    }
    if (const auto limit = FileReadLimits.find(opened.Path); limit != FileReadLimits.end())
        count = std::min(count, limit->second > opened.Delivered ? limit->second - opened.Delivered : 0);
    auto* out = static_cast<char*>(buffer);
    while (*read < count) {
        const ssize_t n = ::read(found->second->Descriptor, out + *read, count - *read);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            LastError = ErrorReadFault;
            return false;
        }
        *read += static_cast<std::uint32_t>(n);
    }
    opened.Delivered += *read;
    return true;
}

std::u16string SimulatedDesktop::FullPath(std::u16string_view name) const {
    std::filesystem::path path(ToUtf8(name));
    if (path.is_relative()) path = std::filesystem::path(ToUtf8(CurrentDirectory)) / path;
    return FromUtf8(path.lexically_normal().string());
}

std::uint32_t SimulatedDesktop::GetFullPathNameW(const char16_t* name, std::uint32_t size, char16_t* buffer) {
    const std::u16string_view view(name);
    if (view.empty()) {
        LastError = ErrorInvalidName;
        return 0;
    }
    const std::u16string full = FullPath(view);
    if (full.size() >= size) return static_cast<std::uint32_t>(full.size() + 1);
    return static_cast<std::uint32_t>(CopyOut(full, buffer, static_cast<int>(size)));
}

std::uint32_t SimulatedDesktop::GetLastError() { return LastError; }

std::uint32_t SimulatedDesktop::FormatMessageW(std::uint32_t, std::uint32_t messageId, std::uint32_t,
                                               char16_t** buffer) {
    const char16_t* text = nullptr;
    switch (messageId) {
        case ErrorFileNotFound: text = u"指定されたファイルが見つかりません。\r\n"; break;
        case ErrorPathNotFound: text = u"指定されたパスが見つかりません。\r\n"; break;
        case ErrorAccessDenied: text = u"アクセスが拒否されました。\r\n"; break;
        case ErrorHandleEof: text = u"ファイルの終わりに到達しました。\r\n"; break;
        case ErrorNetnameDeleted: text = u"指定されたネットワーク名は利用できなくなりました。\r\n"; break;
        case ErrorSharingViolation:
            text = u"プロセスはファイルにアクセスできません。別のプロセスが使用中です。\r\n";
            break;
        case ErrorFilenameExcedRange: text = u"ファイル名または拡張子が長すぎます。\r\n"; break;
        case ErrorInvalidName:
            text = u"ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。\r\n";
            break;
        default: *buffer = nullptr; return 0;
    }
    const std::size_t n = std::char_traits<char16_t>::length(text);
    Allocations.push_back(std::make_unique<char16_t[]>(n + 1));
    std::copy_n(text, n + 1, Allocations.back().get());
    *buffer = Allocations.back().get();
    return static_cast<std::uint32_t>(n);
}

void SimulatedDesktop::LocalFree(void* memory) {
    std::erase_if(Allocations, [memory](const auto& block) { return block.get() == memory; });
}

std::uint32_t SimulatedDesktop::GetACP() { return AnsiCodePage; }

bool SimulatedDesktop::GetCPInfo(std::uint32_t codePage) {
    if (codePage == AnsiCodePage && !AnsiCodePageValid) return false;
    return codePage == CP_UTF8 || CodePageKnown(codePage);
}

int SimulatedDesktop::MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* bytes, int count,
                                          char16_t* out, int outCount) {
    std::u16string text;
    if (count <= 0 || outCount < 0) {
        LastError = ErrorInvalidParameter;
        return 0;
    }
    if (codePage == CP_UTF8) {
        if (!DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes), count, text,
                        (flags & MB_ERR_INVALID_CHARS) != 0)) {
            LastError = ErrorNoUnicodeTranslation;
            return 0;
        }
    } else {
        text = DecodeCodePage(codePage, bytes, count);
        if (text.empty()) LastError = ErrorInvalidParameter;
    }
    if (outCount == 0) return static_cast<int>(text.size());
    if (static_cast<int>(text.size()) > outCount) {
        LastError = ErrorInsufficientBuffer;
        return 0;
    }
    std::copy(text.begin(), text.end(), out);
    return static_cast<int>(text.size());
}

// ---- Standard output and the console -----------------------------------

int SimulatedDesktop::WideCharToMultiByte(std::uint32_t codePage, const char16_t* text, int count, char* out,
                                          int outCount) {
    if (codePage != CP_UTF8 || count < 0 || outCount < 0) {
        LastError = ErrorInvalidParameter;
        return 0;
    }
    std::u16string units(text, static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool high = units[i] >= 0xD800 && units[i] < 0xDC00;
        const bool paired = high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000;
        if (paired)
            ++i;
        else if (units[i] >= 0xD800 && units[i] < 0xE000)
            units[i] = 0xFFFD;
    }
    const std::string bytes = ToUtf8(units);
    if (outCount == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(outCount)) {
        LastError = ErrorInsufficientBuffer;
        return 0;
    }
    std::memcpy(out, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

FileHandle SimulatedDesktop::GetStdHandle(std::uint32_t which) {
    return which == STD_OUTPUT_HANDLE && StdOutputType != 0 ? StdOutputHandle : 0;
}

std::uint32_t SimulatedDesktop::GetFileType(FileHandle file) {
    if (file == StdOutputHandle) return StdOutputType;
    return file == ConsoleHandle ? FILE_TYPE_CHAR : 0;
}

bool SimulatedDesktop::WriteFile(FileHandle file, const void* bytes, std::uint32_t count, std::uint32_t* written) {
    *written = 0;
    if (file != StdOutputHandle || StdOutputType == 0 || StdOutputFails) {
        LastError = ErrorInvalidHandle;
        return false;
    }
    StdOutput.append(static_cast<const char*>(bytes), count);
    *written = count;
    return true;
}

bool SimulatedDesktop::GetConsoleMode(FileHandle handle, std::uint32_t* mode) {
    *mode = 0;
    if (handle == ConsoleHandle || (handle == StdOutputHandle && StdOutputType == FILE_TYPE_CHAR && StdOutputIsConsole)) {
        *mode = 3;  // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
        return true;
    }
    LastError = ErrorInvalidHandle;
    return false;
}

bool SimulatedDesktop::AttachConsole(std::uint32_t processId) {
    ++ConsoleAttaches;
    return processId == ATTACH_PARENT_PROCESS && ParentConsole;
}

bool SimulatedDesktop::WriteConsoleW(FileHandle console, const char16_t* text, std::uint32_t count,
                                     std::uint32_t* written) {
    *written = 0;
    if (console != ConsoleHandle) {
        LastError = ErrorInvalidHandle;
        return false;
    }
    ConsoleOutput.append(text, count);
    *written = count;
    return true;
}

// ---- Watch mode ----------------------------------------------------------

void SimulatedDesktop::PostChange(SimChange change) {
    const auto later = std::upper_bound(Changes.begin(), Changes.end(), change.At,
                                        [](std::uint64_t at, const SimChange& c) { return at < c.At; });
    Changes.insert(later, std::move(change));
}

void SimulatedDesktop::AddOtherWatcher(const std::u16string& className, const std::u16string& title,
                                       const std::u16string& mutex, bool answers, std::uint32_t processId) {
    const WindowHandle window =
        AddWindow({.ProcessId = processId, .ClassName = className, .Title = title, .Visible = false});
    OtherWatcher = SimOtherWatcher{window, mutex, answers};
}

std::uint64_t SimulatedDesktop::GetTickCount64() { return Clock; }

std::uint16_t SimulatedDesktop::RegisterClassExW(const char16_t* className, WindowProcedure procedure) {
    if (!Classes.emplace(className, procedure).second) return 0;
    return static_cast<std::uint16_t>(0xC000 + Classes.size());
}

WindowHandle SimulatedDesktop::CreateWindowExW(std::uint32_t, const char16_t* className, const char16_t* windowName,
                                               std::uint32_t) {
    if (Classes.count(className) == 0) return 0;
    return AddWindow({.ProcessId = OwnProcessId, .ClassName = className, .Title = windowName, .Visible = false});
}

bool SimulatedDesktop::DestroyWindow(WindowHandle window) {
    const auto found = std::find_if(Windows.begin(), Windows.end(), [&](const SimWindow& w) { return w.Handle == window; });
    if (found == Windows.end()) return false;
    Windows.erase(found);
    std::erase_if(Timers, [&](const auto& timer) { return timer.first.first == window; });
    return true;
}

std::intptr_t SimulatedDesktop::DefWindowProcW(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

WindowHandle SimulatedDesktop::FindWindowW(const char16_t* className, const char16_t* windowName) {
    for (const SimWindow& window : Windows)
        if (window.TopLevel && window.ClassName == className && (windowName == nullptr || window.Title == windowName))
            return window.Handle;
    return 0;
}

bool SimulatedDesktop::PostMessageW(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
    const Msg posted{window, message, wParam, lParam, static_cast<std::uint32_t>(Clock), {}};
    Posted.push_back(posted);
    SimWindow* target = Find(window);
    if (target == nullptr) return false;
    if (OtherWatcher && OtherWatcher->Window == window) {
        if (message == WM_CLOSE && OtherWatcher->Answers) {
            DestroyWindow(window);
            OtherWatcher.reset();
        }
    } else if (target->ProcessId == OwnProcessId) {
        Queue.push_back(posted);
    }
    return true;
}

int SimulatedDesktop::GetMessageW(Msg* message) {
    for (;;) {
        *message = Msg{};
        if (QuitPosted) {
            QuitPosted = false;
            return 0;
        }
        if (!Queue.empty()) {
            *message = Queue.front();
            Queue.erase(Queue.begin());
            return 1;
        }
        auto timer = std::min_element(Timers.begin(), Timers.end(),
                                      [](const auto& a, const auto& b) { return a.second.first < b.second.first; });
        const bool change = !Changes.empty() && (timer == Timers.end() || Changes.front().At <= timer->second.first);
        const std::uint64_t at = change ? Changes.front().At : timer != Timers.end() ? timer->second.first : SessionEnd + 1;
        if (at > SessionEnd) return 0;
        if (at > Clock) Advance(at - Clock);
        if (!change) {
            ++TimerMessages;
            timer->second.first = Clock + timer->second.second;
            *message = {timer->first.first, WM_TIMER, timer->first.second, 0, static_cast<std::uint32_t>(Clock), {}};
            return 1;
        }
        SimChange next = std::move(Changes.front());
        Changes.erase(Changes.begin());
        if (next.Before) next.Before();
        for (const SimWindow& window : Windows) {
            if (window.ProcessId == OwnProcessId && Classes.count(window.ClassName) != 0) {
                *message = {window.Handle, next.Message, next.WParam, next.LParam, static_cast<std::uint32_t>(Clock), {}};
                return 1;
            }
        }
    }
}

std::intptr_t SimulatedDesktop::DispatchMessageW(const Msg* message) {
    const SimWindow* window = Find(message->hwnd);
    if (window == nullptr) return 0;
    const auto procedure = Classes.find(window->ClassName);
    if (procedure == Classes.end() || window->ProcessId != OwnProcessId) return 0;
    return procedure->second(message->hwnd, message->message, message->wParam, message->lParam);
}

void SimulatedDesktop::PostQuitMessage(int) { QuitPosted = true; }

std::uintptr_t SimulatedDesktop::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
    if (Find(window) == nullptr) return 0;
    Timers[{window, id}] = {Clock + milliseconds, milliseconds};
    return id;
}

bool SimulatedDesktop::KillTimer(WindowHandle window, std::uintptr_t id) { return Timers.erase({window, id}) != 0; }

bool SimulatedDesktop::WTSRegisterSessionNotification(WindowHandle window, std::uint32_t) {
    if (WtsMissing) Raise<EExternalException>(FormatText(LoadResString(SExternalException), {0xC06D007Eu}));
    SessionNotifications.push_back(window);
    return true;
}

bool SimulatedDesktop::WTSUnRegisterSessionNotification(WindowHandle window) {
    return std::erase(SessionNotifications, window) != 0;
}

HResult SimulatedDesktop::SHQueryUserNotificationState(std::int32_t* state) {
    ++BusyQueries;
    constexpr std::int32_t AcceptsNotifications = 5;
    *state = AcceptsNotifications;
    for (const SimBusy& busy : BusyTimes)
        if (Clock >= busy.From && Clock < busy.To) *state = busy.State;
    return S_OK;
}

std::uintptr_t SimulatedDesktop::CreateMutexW(const char16_t* name) {
    NextMutex += 4;
    Mutexes[NextMutex] = name;
    return NextMutex;
}

std::uint32_t SimulatedDesktop::WaitForSingleObject(std::uintptr_t handle, std::uint32_t milliseconds) {
    const auto mutex = Mutexes.find(handle);
    if (mutex == Mutexes.end()) return 0xFFFFFFFF;  // WAIT_FAILED
    if (OtherWatcher && OtherWatcher->Mutex == mutex->second) {
        Advance(milliseconds);
        return WAIT_TIMEOUT;
    }
    OwnedMutexes.insert(mutex->second);
    return WAIT_OBJECT_0;
}

bool SimulatedDesktop::ReleaseMutex(std::uintptr_t mutex) {
    const auto found = Mutexes.find(mutex);
    return found != Mutexes.end() && OwnedMutexes.erase(found->second) != 0;
}

// ---- Launch follow-up ----------------------------------------------------

void SimulatedDesktop::At(std::uint64_t time, std::function<void()> happen) {
    Schedule.emplace(time, std::move(happen));
}

void SimulatedDesktop::StartProcess(std::uint32_t processId, std::uint32_t parentId, std::u16string imagePath) {
    RunningProcesses.push_back({processId, parentId, std::move(imagePath)});
}

void SimulatedDesktop::EndProcess(std::uint32_t processId) {
    std::erase_if(RunningProcesses, [processId](const SimProcess& p) { return p.ProcessId == processId; });
    std::erase_if(Windows, [processId](const SimWindow& w) { return w.ProcessId == processId; });
}

void SimulatedDesktop::Advance(std::uint64_t milliseconds) {
    Clock += milliseconds;
    // One at a time: what happens may schedule more, also for times already passed.
    while (!Schedule.empty() && Schedule.begin()->first <= Clock) {
        const std::function<void()> happen = std::move(Schedule.begin()->second);
        Schedule.erase(Schedule.begin());
        happen();
    }
}

std::uintptr_t SimulatedDesktop::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
    ++Snapshots;
    if (SnapshotFails || (flags & TH32CS_SNAPPROCESS) == 0) return InvalidHandleValue;
    const std::uintptr_t handle = NextSnapshot += 4;
    OpenSnapshots[handle] = {RunningProcesses, 0};
    return handle;
}

bool SimulatedDesktop::FillEntry(std::uintptr_t snapshot, ProcessEntry* entry) {
    const auto found = OpenSnapshots.find(snapshot);
    if (found == OpenSnapshots.end() || entry->dwSize != ProcessEntrySize) return false;
    Snapshot& taken = found->second;
    if (taken.Next >= taken.Entries.size()) return false;
    const SimProcess& process = taken.Entries[taken.Next++];
    *entry = ProcessEntry{.dwSize = ProcessEntrySize,
                          .th32ProcessID = process.ProcessId,
                          .th32ParentProcessID = process.ParentId};
    // The file name alone, as the platform gives it.
    const std::size_t slash = process.ImagePath.find_last_of(u"\\/");
    CopyOut(process.ImagePath.substr(slash == std::u16string::npos ? 0 : slash + 1), entry->szExeFile,
            static_cast<int>(std::size(entry->szExeFile)));
    return true;
}

bool SimulatedDesktop::Process32FirstW(std::uintptr_t snapshot, ProcessEntry* entry) {
    const auto found = OpenSnapshots.find(snapshot);
    if (found != OpenSnapshots.end()) found->second.Next = 0;
    return FillEntry(snapshot, entry);
}

bool SimulatedDesktop::Process32NextW(std::uintptr_t snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry); }

ProcessHandle SimulatedDesktop::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
    OpenedProcesses.push_back(processId);
    if (std::none_of(RunningProcesses.begin(), RunningProcesses.end(),
                     [processId](const SimProcess& p) { return p.ProcessId == processId; }))
        return 0;
    const ProcessHandle handle = NextProcess += 4;
    Processes[handle] = processId;
    return handle;
}

bool SimulatedDesktop::QueryFullProcessImageNameW(ProcessHandle process, std::uint32_t, char16_t* buffer,
                                                  std::uint32_t* size) {
    const auto handle = Processes.find(process);
    if (handle == Processes.end()) return false;
    // A process that has ended no longer answers for its image here.
    const auto running = std::find_if(RunningProcesses.begin(), RunningProcesses.end(),
                                      [&](const SimProcess& p) { return p.ProcessId == handle->second; });
    if (running == RunningProcesses.end() || running->ImagePath.size() >= *size) return false;
    *size = static_cast<std::uint32_t>(CopyOut(running->ImagePath, buffer, static_cast<int>(*size)));
    return true;
}

WindowHandle SimulatedDesktop::GetForegroundWindow() { return Foreground; }

WindowHandle SimulatedDesktop::GetWindow(WindowHandle window, std::uint32_t command) {
    const SimWindow* w = Find(window);
    return w != nullptr && command == GW_OWNER ? w->Owner : 0;
}

std::int32_t SimulatedDesktop::GetWindowLongW(WindowHandle window, std::int32_t index) {
    const SimWindow* w = Find(window);
    if (w == nullptr) return 0;
    if (index == GWL_STYLE) return static_cast<std::int32_t>(w->Style);
    return index == GWL_EXSTYLE ? static_cast<std::int32_t>(w->ExStyle) : 0;
}

void SimulatedDesktop::Sleep(std::uint32_t milliseconds) {
    Sleeps.push_back(milliseconds);
    Advance(milliseconds);
}

}  // namespace tessel
