#include "main/launch_follow_up.h"

#include <algorithm>

namespace tessel {

TFollowUp::TFollowUp(std::uint64_t launchTime) : FLaunchTime(launchTime), FLastWindowTime(launchTime) {}

void TFollowUp::WindowJudged(std::uint64_t time, WindowHandle window, bool mainWindow) {
    FLastWindowTime = std::max(FLastWindowTime, time);
    if (mainWindow) FMainWindows.insert(window);
}

void TFollowUp::WindowClosed(WindowHandle window) { FMainWindows.erase(window); }

bool TFollowUp::StopFollowing(std::uint64_t time) const {
    if (time >= FLaunchTime + FollowUpLimitMs) return true;
    return !FMainWindows.empty() && time >= FLastWindowTime + FollowUpSettleMs;
}

bool IsMainWindow(WindowHandle window) {
    if (!Os().IsWindowVisible(window) || Os().GetWindow(window, GW_OWNER) != 0) return false;
    const auto style = static_cast<std::uint32_t>(Os().GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<std::uint32_t>(Os().GetWindowLongW(window, GWL_EXSTYLE));
    return (style & WS_CAPTION) == WS_CAPTION || (exStyle & WS_EX_APPWINDOW) != 0;
}

namespace {

bool CollectWindow(WindowHandle window, std::intptr_t param) {
    reinterpret_cast<std::vector<WindowHandle>*>(param)->push_back(window);
    return true;
}

std::vector<WindowHandle> TopLevelWindows() {
    std::vector<WindowHandle> windows;
    Os().EnumWindows(&CollectWindow, reinterpret_cast<std::intptr_t>(&windows));
    return windows;
}

/// Closes a handle of the platform at the end of the scope.
class THandleGuard {
public:
    explicit THandleGuard(std::uintptr_t handle) : FHandle(handle) {}
    ~THandleGuard() { Os().CloseHandle(FHandle); }
    THandleGuard(const THandleGuard&) = delete;
    THandleGuard& operator=(const THandleGuard&) = delete;

private:
    std::uintptr_t FHandle;
};

/// The processes that run, with their parents and executable file names;
/// none when the snapshot cannot be taken.
std::vector<TRunningProcess> RunningProcesses() {
    std::vector<TRunningProcess> processes;
    const std::uintptr_t snapshot = Os().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == InvalidHandleValue || snapshot == 0) return processes;
    const THandleGuard guard(snapshot);
    ProcessEntry entry;
    entry.dwSize = ProcessEntrySize;
    for (bool more = Os().Process32FirstW(snapshot, &entry); more; more = Os().Process32NextW(snapshot, &entry)) {
        const std::size_t length = std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), u'\0') -
                                   std::begin(entry.szExeFile);
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, std::u16string(entry.szExeFile, length)});
    }
    return processes;
}

/// The full path of the executable that the process runs; empty when it
/// cannot be read.
std::u16string ImagePath(ProcessHandle process) {
    // As long as the longest path the platform allows.
    std::u16string path(32768, u'\0');
    auto size = static_cast<std::uint32_t>(path.size());
    if (!Os().QueryFullProcessImageNameW(process, 0, path.data(), &size) || size >= path.size()) return {};
    path.resize(size);
    return path;
}

/// Paths and file names compare without regard to the case of a to z, as
/// the file system does for the names programs have.
bool SameName(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

std::u16string_view FileNamePart(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

TLaunchFollower::TLaunchFollower() : FOuterJudgements(Judgements) {
    for (WindowHandle window : TopLevelWindows()) FWindowsBefore.insert(window);
    for (const TRunningProcess& process : RunningProcesses()) FProcessesBefore.insert(process.Id);
    Judgements = &FJudgements;
}

TLaunchFollower::~TLaunchFollower() { Judgements = FOuterJudgements; }

void TLaunchFollower::Launched(ProcessHandle process) {
    FLaunchTime = Os().GetTickCount64();
    if (process != 0) FImage = ImagePath(process);
}

bool TLaunchFollower::RunsLaunchedImage(const TRunningProcess& process) {
    if (FImage.empty() || !SameName(process.ExeFile, FileNamePart(FImage))) return false;
    const auto known = FSameImage.find(process.Id);
    if (known != FSameImage.end()) return known->second;
    bool same = false;
    if (const ProcessHandle opened = Os().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, false, process.Id)) {
        const THandleGuard guard(opened);
        same = SameName(ImagePath(opened), FImage);
    }
    FSameImage[process.Id] = same;
    return same;
}

void TLaunchFollower::UpdateFamily(const std::vector<TRunningProcess>& processes) {
    // A process that has ended leaves the family, as its id may go to an
    // unrelated program. The launched one stays: its handle, open until the
    // follow-up ends, keeps its id from being given to another, and its
    // children name it as their parent after it has ended.
    std::set<std::uint32_t> running;
    for (const TRunningProcess& process : processes) running.insert(process.Id);
    std::erase_if(FFamily, [&](std::uint32_t id) { return id != FLaunchedId && running.count(id) == 0; });
    std::erase_if(FSameImage, [&](const auto& entry) { return running.count(entry.first) == 0; });
    // A parent id is not checked by the platform: a process that ran before
    // the launch may name a parent whose id the launched program got since.
    for (bool grown = true; grown;) {
        grown = false;
        for (const TRunningProcess& process : processes) {
            if (FFamily.count(process.Id) != 0 || FProcessesBefore.count(process.Id) != 0 ||
                FFamily.count(process.ParentId) == 0)
                continue;
            FFamily.insert(process.Id);
            grown = true;
        }
    }
    for (const TRunningProcess& process : processes)
        if (process.Id != 0 && FFamily.count(process.Id) == 0 && RunsLaunchedImage(process))
            FFamily.insert(process.Id);
}

void TLaunchFollower::Follow(std::uint32_t processId) {
    if (processId == 0) return;
    FLaunchedId = processId;
    FFamily = {processId};
    TFollowUp followUp(FLaunchTime);
    std::set<WindowHandle> judged;
    std::vector<WindowHandle> mainWindows;
    const auto takeJudgements = [&](std::uint64_t time) {
        // The window list gets its line from the judgement itself; what is
        // taken here is which windows have been judged.
        for (const TJudgement& judgement : FJudgements) {
            // A window hidden when the pass met it is judged once it shows.
            if (judgement.Decision == TDecision::dcHidden || !judged.insert(judgement.Window).second) continue;
            const bool main = IsMainWindow(judgement.Window);
            if (main) mainWindows.push_back(judgement.Window);
            followUp.WindowJudged(time, judgement.Window, main);
        }
        FJudgements.clear();
    };
    takeJudgements(Os().GetTickCount64());
    for (;;) {
        const std::uint64_t now = Os().GetTickCount64();
        UpdateFamily(RunningProcesses());
        const WindowHandle foreground = Os().GetForegroundWindow();
        for (WindowHandle window : TopLevelWindows()) {
            if (judged.count(window) != 0) continue;
            if (FWindowsBefore.count(window) != 0 && window != foreground) continue;
            std::uint32_t owner = 0;
            Os().GetWindowThreadProcessId(window, &owner);
            if (FFamily.count(owner) == 0 || !Os().IsWindowVisible(window)) continue;
            JudgeWindow(window);
        }
        takeJudgements(now);
        for (WindowHandle window : mainWindows)
            if (!Os().IsWindowVisible(window)) followUp.WindowClosed(window);
        if (followUp.StopFollowing(Os().GetTickCount64())) return;
        Os().Sleep(FollowUpPollMs);
    }
}

}  // namespace tessel
