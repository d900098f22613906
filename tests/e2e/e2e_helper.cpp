// Windows-side helper of the end-to-end suite. One program, three jobs:
//
//   e2e_helper.exe                     windows: creates the top-level windows
//                                      listed in <exe stem>.windows beside the
//                                      exe, reports them in <stem>.ready once
//                                      they exist, records every later change
//                                      of their rectangles and writes the final
//                                      report <stem>.report when <stem>.quit
//                                      appears.
//   e2e_helper.exe --monitors OUT      writes the monitor layout as Wine
//                                      reports it, then exits.
//   e2e_helper.exe --box OUT MS CAP... waits up to MS milliseconds for each
//                                      message box (#32770) with caption CAP,
//                                      in order, writes its caption and text
//                                      to OUT and closes it; CAP * takes any.
//   e2e_helper.exe --resources EXE OUT writes what the platform reads from
//                                      EXE's version block and manifest.
//   e2e_helper.exe --load NAME         loads the library NAME as the platform
//                                      finds it by that name, then exits.
//   e2e_helper.exe --display W H OUT   changes the primary monitor's mode to
//                                      W x H, which broadcasts WM_DISPLAYCHANGE,
//                                      and writes when (and the result) to OUT.
//   e2e_helper.exe --workarea OUT      broadcasts WM_SETTINGCHANGE with
//                                      SPI_SETWORKAREA and writes when to OUT.
//   e2e_helper.exe --watcher-stats OUT writes the running watcher's process
//                                      id, handle count and private bytes.
//
// While it runs, the window job keeps <stem>.live up to date with the
// report's lines after each move, and carries out <stem>.move
// ("index left top right bottom", a window rectangle) as a program's own
// move, which it records like any other.
//
// A copy that finds <stem>.hang beside it stops handling messages once its
// windows are ready, as a program that no longer answers, until <stem>.quit
// appears; then it goes on and reports as usual.
//
// Programs whose windows come late or from another process, as launch mode
// meets them:
//   <stem>.start    holds the file name of a program beside it: the copy
//                   starts that program and ends at once, as a launcher stub
//                   does, reporting no windows.
//   <stem>.single   one copy at a time: a second copy asks the running one
//                   for its windows shown on request (writing <stem>.request)
//                   and ends at once.
// A window line may say when its window is made and shown (milliseconds
// after the start, or "request") and when it is destroyed; the copy pumps
// messages meanwhile, so it is idle for input long before. A window made
// late is reported in <stem>.ready, written again, from then on.
//
// The window job takes no arguments on purpose: a program launched by Tessel
// gets none, so everything it needs comes from files named after the exe,
// and several copies of it under different names can run side by side.
//
// Window lines (UTF-8, tab-separated; a tab in a title written as \t):
//   class  title  left  top  width  height  show  style  colour  [title after the first move
//   [shown after [destroyed after]]]
// show: normal | hidden | min | max; style: overlapped | popup | tool;
// colour: RRGGBB, used by the demo's screenshots. The new title is set
// while the first move is still under way, before the mover's call returns,
// so that the suite's stand-in desktop window manager (which reads borders
// from the title) answers differently for a second move.
// Rectangles are window rectangles, as a mover asks for them with MoveWindow.
// Report lines (UTF-8, tab-separated):
//   start  <microseconds>               when the helper started
//   time   <microseconds>               when the report was written
//   cwd    <current directory>
//   window <index> <left> <top> <right> <bottom> <visible> <iconic> <pid> <zoomed>
//                                      (a destroyed window: its last rectangle,
//                                      not visible)
//   move   <index> <microseconds> <left> <top> <right> <bottom>
//   heard  display|workarea <microseconds>  a change broadcast to its first window
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace tessel {
namespace {

constexpr UINT_PTR QuitTimer = 1;
// A helper that nobody tells to quit must not outlive the suite for long.
constexpr ULONGLONG SelfDestructMs = 180000;

struct WindowLine {
    std::wstring ClassName;
    std::wstring Title;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::wstring Show;
    std::wstring Style;
    COLORREF Colour = RGB(200, 200, 200);
    std::wstring TitleAfterMove;
    std::wstring ShownAfter;  // empty or "0": at the start; milliseconds; or "request"
    ULONGLONG DestroyedAfter = 0;  // 0: never
};

struct Move {
    long long Micros;
    RECT Frame;
};

struct Tracked {
    HWND Window = nullptr;  // null until it is made
    bool Destroyed = false;
    bool Ready = false;
    RECT Last{};
    std::vector<Move> Moves;
    std::wstring TitleAfterMove;
};

std::vector<Tracked> TrackedWindows;
std::vector<std::pair<std::string, long long>> Heard;  // the changes broadcast to its windows, when
std::wstring Stem;  // full path of the exe without ".exe"
ULONGLONG StartTick = 0;
long long StartMicros = 0;

long long NowMicros()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<long long>(count.QuadPart / (frequency.QuadPart / 1000000));
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

bool ReadWholeFile(const std::wstring& name, std::string& contents)
{
    FILE* file = _wfopen(name.c_str(), L"rb");
    if (!file) return false;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, got);
    fclose(file);
    return true;
}

// Readers poll for the file, so it must appear whole or not at all.
void WriteFileAtomically(const std::wstring& name, const std::string& contents)
{
    std::wstring temporary = name + L".tmp";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file) return;
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
    MoveFileExW(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool FileExists(const std::wstring& name)
{
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::vector<WindowLine> ReadWindowLines(const std::wstring& name)
{
    std::string contents;
    std::vector<WindowLine> lines;
    if (!ReadWholeFile(name, contents)) return lines;
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\n', start);
        if (end == std::string::npos) end = contents.size();
        std::string line = contents.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> f = SplitTabs(line);
        if (f.size() < 9) continue;
        WindowLine window;
        window.ClassName = Wide(f[0]);
        window.Title = Wide(f[1]);
        // A tab in a title is written \t, as the fields are tab-separated.
        for (size_t at; (at = window.Title.find(L"\\t")) != std::wstring::npos;) window.Title.replace(at, 2, L"\t");
        window.Left = std::stoi(f[2]);
        window.Top = std::stoi(f[3]);
        window.Width = std::stoi(f[4]);
        window.Height = std::stoi(f[5]);
        window.Show = Wide(f[6]);
        window.Style = Wide(f[7]);
        unsigned long rgb = std::stoul(f[8], nullptr, 16);
        window.Colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        if (f.size() > 9) window.TitleAfterMove = Wide(f[9]);
        if (f.size() > 10) window.ShownAfter = Wide(f[10]);
        if (f.size() > 11) window.DestroyedAfter = std::stoull(f[11]);
        lines.push_back(window);
    }
    return lines;
}

// The window rectangle, not the visible frame: it is what a move asks for,
// and it does not depend on which desktop window manager library is loaded.
RECT WindowRect(HWND window)
{
    RECT frame{};
    GetWindowRect(window, &frame);
    return frame;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string RectFields(const RECT& r)
{
    char buffer[96];
    snprintf(buffer, sizeof buffer, "%ld\t%ld\t%ld\t%ld", r.left, r.top, r.right, r.bottom);
    return buffer;
}

std::string Report()
{
    std::string out = "start\t" + std::to_string(StartMicros) + "\ntime\t" + std::to_string(NowMicros()) + "\n";
    wchar_t directory[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, directory);
    out += "cwd\t" + Utf8(directory) + "\n";
    for (size_t i = 0; i < TrackedWindows.size(); ++i) {
        const Tracked& tracked = TrackedWindows[i];
        HWND window = tracked.Window;
        if (window == nullptr) continue;
        if (tracked.Destroyed) {
            out += "window\t" + std::to_string(i) + "\t" + RectFields(tracked.Last) + "\t0\t0\t" +
                   std::to_string(GetCurrentProcessId()) + "\t0\n";
            continue;
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        out += "window\t" + std::to_string(i) + "\t" + RectFields(WindowRect(window)) + "\t" +
               std::to_string(IsWindowVisible(window) ? 1 : 0) + "\t" + std::to_string(IsIconic(window) ? 1 : 0) +
               "\t" + std::to_string(pid) + "\t" + std::to_string(IsZoomed(window) ? 1 : 0) + "\n";
    }
    for (const auto& [change, micros] : Heard) out += "heard\t" + change + "\t" + std::to_string(micros) + "\n";
    for (size_t i = 0; i < TrackedWindows.size(); ++i)
        for (const Move& move : TrackedWindows[i].Moves)
            out += "move\t" + std::to_string(i) + "\t" + std::to_string(move.Micros) + "\t" +
                   RectFields(move.Frame) + "\n";
    return out;
}

Tracked* FindTracked(HWND window)
{
    for (Tracked& tracked : TrackedWindows)
        if (tracked.Window == window && window != nullptr) return &tracked;
    return nullptr;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETMINMAXINFO: {
        // Windows larger than the screen are part of the test; let them be.
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMaxTrackSize = {100000, 100000};
        info->ptMaxSize = {100000, 100000};
        return 0;
    }
    case WM_WINDOWPOSCHANGED: {
        Tracked* tracked = FindTracked(window);
        if (tracked && tracked->Ready) {
            RECT frame = WindowRect(window);
            if (!SameRect(frame, tracked->Last)) {
                tracked->Moves.push_back({NowMicros(), frame});
                tracked->Last = frame;
                WriteFileAtomically(Stem + L".live", Report());
                if (tracked->Moves.size() == 1 && !tracked->TitleAfterMove.empty())
                    SetWindowTextW(window, tracked->TitleAfterMove.c_str());
            }
        }
        break;
    }
    case WM_PAINT: {
        // Each window in its own colour with its title large, for screenshots.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(window, GWLP_USERDATA)));
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        wchar_t title[256];
        GetWindowTextW(window, title, 256);
        HFONT font = CreateFontW(-28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, title, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, old);
        DeleteObject(font);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE: {
        // A broadcast comes to each of the windows; the first one notes it.
        if (message == WM_SETTINGCHANGE && wParam != SPI_SETWORKAREA) break;
        if (!TrackedWindows.empty() && window == TrackedWindows[0].Window) {
            Heard.push_back({message == WM_DISPLAYCHANGE ? "display" : "workarea", NowMicros()});
            WriteFileAtomically(Stem + L".live", Report());
        }
        break;
    }
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole client area
    case WM_CLOSE:
        return 0;  // only the quit file ends the helper
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD StyleOf(const std::wstring& style)
{
    if (style == L"popup") return WS_POPUP | WS_BORDER;
    return WS_OVERLAPPEDWINDOW;
}

DWORD ExStyleOf(const std::wstring& style)
{
    return style == L"tool" ? WS_EX_TOOLWINDOW : 0;
}

int ShowCommandOf(const std::wstring& show)
{
    if (show == L"min") return SW_SHOWMINNOACTIVE;
    if (show == L"max") return SW_SHOWMAXIMIZED;
    return SW_SHOWNOACTIVATE;
}

bool RegisterClassFor(HINSTANCE instance, const WindowLine& line)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, line.ClassName.c_str(), &existing)) return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = line.ClassName.c_str();
    return RegisterClassExW(&windowClass) != 0;
}

void MoveAsAsked()
{
    std::string request;
    if (!ReadWholeFile(Stem + L".move", request)) return;
    DeleteFileW((Stem + L".move").c_str());
    size_t index = 0;
    long left = 0, top = 0, right = 0, bottom = 0;
    if (sscanf(request.c_str(), "%zu %ld %ld %ld %ld", &index, &left, &top, &right, &bottom) != 5 ||
        index >= TrackedWindows.size())
        return;
    SetWindowPos(TrackedWindows[index].Window, nullptr, left, top, right - left, bottom - top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

std::vector<WindowLine> Lines;
HINSTANCE Instance = nullptr;

// Makes and shows the window of line i; false when it cannot be made.
bool MakeWindow(size_t i)
{
    const WindowLine& line = Lines[i];
    if (!RegisterClassFor(Instance, line)) return false;
    HWND window = CreateWindowExW(ExStyleOf(line.Style), line.ClassName.c_str(), line.Title.c_str(),
                                  StyleOf(line.Style), line.Left, line.Top, line.Width, line.Height, nullptr,
                                  nullptr, Instance, nullptr);
    if (!window) return false;
    SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(line.Colour));
    TrackedWindows[i].Window = window;
    if (line.Show != L"hidden") ShowWindow(window, ShowCommandOf(line.Show));
    return true;
}

void StartTracking(Tracked& tracked)
{
    tracked.Last = WindowRect(tracked.Window);
    tracked.Ready = true;
}

bool AtStart(const WindowLine& line) { return line.ShownAfter.empty() || line.ShownAfter == L"0"; }

// Makes the windows whose time has come, or that a second copy asked for,
// and destroys those whose time is up.
void MakeLateWindows()
{
    const ULONGLONG now = GetTickCount64() - StartTick;
    const bool requested = FileExists(Stem + L".request");
    if (requested) DeleteFileW((Stem + L".request").c_str());
    bool changed = false;
    for (size_t i = 0; i < Lines.size(); ++i) {
        Tracked& tracked = TrackedWindows[i];
        const WindowLine& line = Lines[i];
        const bool due = line.ShownAfter == L"request" ? requested
                                                        : !AtStart(line) && now >= std::stoull(line.ShownAfter);
        if (tracked.Window == nullptr && due && MakeWindow(i)) {
            StartTracking(tracked);
            changed = true;
        }
        if (tracked.Window != nullptr && !tracked.Destroyed && line.DestroyedAfter != 0 &&
            now >= line.DestroyedAfter) {
            tracked.Last = WindowRect(tracked.Window);
            tracked.Destroyed = true;
            DestroyWindow(tracked.Window);
            changed = true;
        }
    }
    if (changed) WriteFileAtomically(Stem + L".ready", Report());
}

void CALLBACK PollQuit(HWND, UINT, UINT_PTR, DWORD)
{
    MoveAsAsked();
    if (FileExists(Stem + L".quit") || GetTickCount64() - StartTick > SelfDestructMs) PostQuitMessage(0);
    MakeLateWindows();
}

// A launcher stub: starts the program named in <stem>.start, from the same
// folder, and ends without waiting for it.
int RunStub()
{
    std::string name;
    ReadWholeFile(Stem + L".start", name);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    std::wstring directory = Stem.substr(0, Stem.find_last_of(L'\\') + 1);
    std::wstring program = directory + Wide(name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return 5;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    WriteFileAtomically(Stem + L".ready", Report());
    WriteFileAtomically(Stem + L".report", Report());
    return 0;
}

// One copy at a time: answers false in a second copy, which has asked the
// first one for its windows shown on request.
bool FirstCopy()
{
    // A mutex name holds no backslash, so the path goes in as a hash.
    unsigned long long hash = 1469598103934665603ull;
    for (wchar_t c : Stem) hash = (hash ^ static_cast<unsigned long long>(towlower(c))) * 1099511628211ull;
    wchar_t name[64];
    swprintf(name, 64, L"TesselE2E-%016llx", hash);
    CreateMutexW(nullptr, FALSE, name);  // held until the copy ends
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
    WriteFileAtomically(Stem + L".request", "");
    return false;
}

int RunWindows(HINSTANCE instance)
{
    // The windows must exist before the first message is pumped: Tessel's
    // wait for input idle returns at that moment and its pass follows.
    Instance = instance;
    Lines = ReadWindowLines(Stem + L".windows");
    TrackedWindows.resize(Lines.size());
    for (size_t i = 0; i < Lines.size(); ++i) {
        TrackedWindows[i].TitleAfterMove = Lines[i].TitleAfterMove;
        if (AtStart(Lines[i]) && !MakeWindow(i)) return 4;
    }
    for (Tracked& tracked : TrackedWindows)
        if (tracked.Window != nullptr) StartTracking(tracked);
    WriteFileAtomically(Stem + L".ready", Report());
    if (FileExists(Stem + L".hang"))
        while (!FileExists(Stem + L".quit") && GetTickCount64() - StartTick < SelfDestructMs) Sleep(20);
    SetTimer(nullptr, QuitTimer, 20, PollQuit);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WriteFileAtomically(Stem + L".report", Report());
    return 0;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    auto* out = reinterpret_cast<std::string*>(param);
    *out += "monitor\t" + RectFields(info.rcMonitor) + "\t" + RectFields(info.rcWork) + "\t" +
            std::to_string((info.dwFlags & MONITORINFOF_PRIMARY) ? 1 : 0) + "\n";
    return TRUE;
}

int RunMonitors(const std::wstring& outName)
{
    std::string out;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&out));
    WriteFileAtomically(outName, out);
    return 0;
}

struct BoxSearch {
    std::wstring Caption;
    HWND Found = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<BoxSearch*>(param);
    wchar_t className[64], caption[256];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, 64) || wcscmp(className, L"#32770") != 0)
        return TRUE;
    GetWindowTextW(window, caption, 256);
    if (search->Caption != L"*" && search->Caption != caption) return TRUE;
    search->Found = window;
    return FALSE;
}

int RunBoxes(const std::wstring& outName, DWORD timeoutMs, const std::vector<std::wstring>& captions)
{
    std::string out;
    for (const std::wstring& caption : captions) {
        BoxSearch search{caption};
        ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!search.Found && GetTickCount64() < deadline) {
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
            if (!search.Found) Sleep(20);
        }
        if (!search.Found) {
            out += "timeout\t" + Utf8(caption) + "\n";
            WriteFileAtomically(outName, out);
            return 2;
        }
        wchar_t text[2048] = L"";
        GetDlgItemTextW(search.Found, 0xFFFF, text, 2048);
        std::wstring flat = text;
        for (wchar_t& c : flat)
            if (c == L'\t') c = L' ';
        wchar_t shown[256] = L"";
        GetWindowTextW(search.Found, shown, 256);
        std::string line = "box\t" + Utf8(shown) + "\t";
        // One box, one line: backslash, CR and LF are written as \\, \r, \n.
        for (char c : Utf8(flat)) {
            if (c == '\\') line += "\\\\";
            else if (c == '\r') line += "\\r";
            else if (c == '\n') line += "\\n";
            else line += c;
        }
        out += line + "\n";
        PostMessageW(search.Found, WM_COMMAND, IDOK, 0);
    }
    WriteFileAtomically(outName, out);
    return 0;
}

int RunDisplay(DWORD width, DWORD height, const std::wstring& outName)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    long long before = NowMicros();
    LONG result = ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr);
    WriteFileAtomically(outName, "changed\t" + std::to_string(before) + "\t" + std::to_string(NowMicros()) + "\t" +
                                     std::to_string(result) + "\n");
    return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
}

int RunWorkArea(const std::wstring& outName)
{
    long long before = NowMicros();
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_ABORTIFHUNG, 2000, &answer);
    WriteFileAtomically(outName, "changed\t" + std::to_string(before) + "\t" + std::to_string(NowMicros()) + "\t0\n");
    return 0;
}

int RunWatcherStats(const std::wstring& outName)
{
    HWND watcher = FindWindowW(L"TesselWatcher", L"Tessel");
    DWORD pid = 0;
    if (watcher) GetWindowThreadProcessId(watcher, &pid);
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (!process) {
        WriteFileAtomically(outName, "none\n");
        return 1;
    }
    DWORD handles = 0;
    bool counted = GetProcessHandleCount(process, &handles) != FALSE;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    bool measured = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    CloseHandle(process);
    WriteFileAtomically(outName, "stats\t" + std::to_string(pid) + "\t" + (counted ? std::to_string(handles) : "-") +
                                     "\t" + (measured ? std::to_string(memory.PrivateUsage) : "-") + "\n");
    return 0;
}

std::wstring VersionString(const void* block, const wchar_t* name)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, name, &value, &length) || length == 0) return L"";
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    char field[16];
    snprintf(field, sizeof field, "\t%04X", language);
    *reinterpret_cast<std::string*>(param) += field;
    return TRUE;
}

int RunResources(const std::wstring& exeName, const std::wstring& outName)
{
    std::string out;
    DWORD ignored = 0;
    std::vector<unsigned char> block(GetFileVersionInfoSizeW(exeName.c_str(), &ignored));
    if (!block.empty() && GetFileVersionInfoW(exeName.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
        void* value = nullptr;
        UINT length = 0;
        if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
            const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
            char line[128];
            snprintf(line, sizeof line, "fixed\t%lu.%lu.%lu.%lu\t%lu.%lu.%lu.%lu\n", info->dwFileVersionMS >> 16,
                     info->dwFileVersionMS & 0xFFFF, info->dwFileVersionLS >> 16, info->dwFileVersionLS & 0xFFFF,
                     info->dwProductVersionMS >> 16, info->dwProductVersionMS & 0xFFFF,
                     info->dwProductVersionLS >> 16, info->dwProductVersionLS & 0xFFFF);
            out += line;
        }
        if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
            const auto* pair = static_cast<const WORD*>(value);
            char line[64];
            snprintf(line, sizeof line, "translation\t%04X%04X\n", pair[0], pair[1]);
            out += line;
            wchar_t prefix[64];
            swprintf(prefix, 64, L"\\StringFileInfo\\%04X%04X\\", pair[0], pair[1]);
            for (const wchar_t* name : {L"FileVersion", L"ProductVersion", L"OriginalFilename"})
                out += "string\t" + Utf8(name) + "\t" + Utf8(VersionString(block.data(), (prefix + std::wstring(name)).c_str())) +
                       "\n";
        }
    }
    // The manifest as the loader finds it: resource 1 of type RT_MANIFEST.
    HMODULE module = LoadLibraryExW(exeName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module != nullptr) {
        if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
            const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
            std::string manifest(data, SizeofResource(module, found));
            for (char& c : manifest)
                if (c == '\r' || c == '\n' || c == '\t') c = ' ';
            out += "manifest\t" + manifest + "\n";
        }
        out += std::string("icon\t") + (FindResourceW(module, L"MAINICON", MAKEINTRESOURCEW(14)) ? "1" : "0") + "\n";
        // The languages of the string table's block that holds the report
        // template (string 65516 lies in block 65516 / 16 + 1).
        out += "stringlanguages";
        EnumResourceLanguagesW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(65516 / 16 + 1), AddLanguage,
                               reinterpret_cast<LONG_PTR>(&out));
        out += "\n";
        FreeLibrary(module);
    }
    WriteFileAtomically(outName, out);
    return 0;
}

}  // namespace
}  // namespace tessel

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    using namespace tessel;
    StartTick = GetTickCount64();
    StartMicros = NowMicros();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    if (args.size() >= 3 && args[1] == L"--monitors") return RunMonitors(args[2]);
    if (args.size() >= 3 && args[1] == L"--load") return LoadLibraryW(args[2].c_str()) != nullptr ? 0 : 1;
    if (args.size() >= 4 && args[1] == L"--resources") return RunResources(args[2], args[3]);
    if (args.size() >= 5 && args[1] == L"--display")
        return RunDisplay(static_cast<DWORD>(std::stoul(args[2])), static_cast<DWORD>(std::stoul(args[3])), args[4]);
    if (args.size() >= 3 && args[1] == L"--workarea") return RunWorkArea(args[2]);
    if (args.size() >= 3 && args[1] == L"--watcher-stats") return RunWatcherStats(args[2]);
    if (args.size() >= 5 && args[1] == L"--box")
        return RunBoxes(args[2], static_cast<DWORD>(std::stoul(args[3])),
                        std::vector<std::wstring>(args.begin() + 4, args.end()));
    if (args.size() > 1) return 64;

    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    Stem = path;
    if (Stem.size() > 4 && _wcsicmp(Stem.c_str() + Stem.size() - 4, L".exe") == 0) Stem.resize(Stem.size() - 4);
    if (FileExists(Stem + L".start")) return RunStub();
    if (FileExists(Stem + L".single") && !FirstCopy()) return 0;
    return RunWindows(instance);
}
