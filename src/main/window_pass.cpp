#include "main/window_pass.h"

#include <algorithm>

#include "main/tessel.h"
#include "main/window_list.h"
#include "masks/mask.h"
#include "rules/string_list.h"
#include "runtime/version.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

std::uint32_t TargetProcessId = 0;
std::vector<TJudgement>* Judgements = nullptr;

std::optional<int> ExemptingRule(TWindowTexts& texts) {
    const int count = ExclusionRules->Count();
    for (int i = 0; i < count; ++i) {
        const auto [titleMask, classMask] = ExclusionRules->SplitNameValue(ExclusionRules->Entry(i));
        if (WindowMatchesRule(texts, classMask, titleMask, *CompiledMasks)) return i;
    }
    return std::nullopt;
}

namespace {

/// The rectangle that holds every monitor.
Rect VirtualScreen() {
    const std::int32_t left = Os().GetSystemMetrics(SM_XVIRTUALSCREEN);
    const std::int32_t top = Os().GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, ClampToInt32(std::int64_t{left} + Os().GetSystemMetrics(SM_CXVIRTUALSCREEN)),
            ClampToInt32(std::int64_t{top} + Os().GetSystemMetrics(SM_CYVIRTUALSCREEN))};
}

/// Whether the frame lies in the band between a monitor's edge and its work
/// area without reaching into the work area: where the bars that programs
/// dock at an edge live, which Windows keeps the work area clear of.
bool InDockingBand(const Rect& r, const MonitorInfo& info) {
    const Rect& m = info.rcMonitor;
    const Rect& w = info.rcWork;
    const bool withinMonitor = r.Left >= m.Left && r.Top >= m.Top && r.Right <= m.Right && r.Bottom <= m.Bottom;
    const bool overlapsWork = std::min(r.Right, w.Right) > std::max(r.Left, w.Left) &&
                              std::min(r.Bottom, w.Bottom) > std::max(r.Top, w.Top);
    return withinMonitor && !overlapsWork;
}

/// Whether the shell names the window as the auto-hide bar of an edge of its
/// monitor. Such a bar, while hidden, lies almost wholly off the monitor.
/// Before Windows 8 the shell keeps auto-hide bars for the primary monitor only.
bool IsAutoHideBar(WindowHandle window, const MonitorInfo& info) {
    const bool perMonitor = StartupVersion.Major > 6 || (StartupVersion.Major == 6 && StartupVersion.Minor >= 2);
    if (!perMonitor && (info.dwFlags & MONITORINFOF_PRIMARY) == 0) return false;
    for (std::uint32_t edge = ABE_LEFT; edge <= ABE_BOTTOM; ++edge) {
        AppBarData bar;
        bar.cbSize = AppBarDataSize;
        bar.uEdge = edge;
        bar.rc = info.rcMonitor;
        if (Os().SHAppBarMessage(perMonitor ? ABM_GETAUTOHIDEBAREX : ABM_GETAUTOHIDEBAR, &bar) == window) return true;
    }
    return false;
}

/// Whether the window's program handles a message within a second. Tessel's
/// only window, the watcher's, is hidden and never asked, so every window
/// asked belongs to another program; one that is hung is given up on at once.
bool Answers(WindowHandle window) {
    constexpr std::uint32_t AnswerTimeoutMs = 1000;
    std::uintptr_t result = 0;
    return Os().SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, AnswerTimeoutMs, &result);
}

/// Ends the judgement of a window: the window list, when there is one, gets
/// its line, and the record of judgements, when one is kept, its entry.
TDecision Decided(TWindowTexts& texts, TPlacement& placement, TDecision decision) {
    placement.Decision = decision;
    if (WindowList != nullptr) WindowList->Write(texts, placement);
    if (Judgements != nullptr) Judgements->push_back({texts.Window(), decision});
    return decision;
}

/// Moves the window unless the run only lists what it would do.
void Move(WindowHandle window, std::int32_t x, std::int32_t y, std::int64_t width, std::int64_t height) {
    if (WindowList == nullptr) MoveVisibleFrame(window, x, y, ClampToInt32(width), ClampToInt32(height), true);
}

}  // namespace

bool PointOutsideRect(const Rect& area, Point p) {
    return p.X < area.Left || p.X > area.Right || p.Y < area.Top || area.Bottom < p.Y;
}

bool PlaceWindow(WindowHandle window, std::intptr_t) {
    if (TargetProcessId != 0) {
        std::uint32_t processId = 0;
        Os().GetWindowThreadProcessId(window, &processId);
        if (processId != TargetProcessId) return true;
    }
    JudgeWindow(window);
    return true;
}

TDecision JudgeWindow(WindowHandle window) {
    TPlacement placement;
    TWindowTexts texts(window);
    placement.Rule = ExemptingRule(texts);
    if (placement.Rule) return Decided(texts, placement, TDecision::dcExempt);
    if (!Os().IsWindowVisible(window)) return Decided(texts, placement, TDecision::dcHidden);
    if (Os().IsIconic(window)) return Decided(texts, placement, TDecision::dcMinimised);
    // A maximised window's borders hang off the work area by design.
    if (Os().IsZoomed(window)) return Decided(texts, placement, TDecision::dcMaximised);
    // Visible to the window manager but not shown: the Start menu, search
    // and the shell's other surfaces, suspended Store apps.
    if (IsWindowCloaked(window)) return Decided(texts, placement, TDecision::dcCloaked);
    const MonitorHandle monitor = Os().MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor == 0) return Decided(texts, placement, TDecision::dcNoMonitor);
    MonitorInfo info;
    info.cbSize = MonitorInfoSize;
    if (!Os().GetMonitorInfoW(monitor, &info)) return Decided(texts, placement, TDecision::dcNoMonitor);
    const Rect w = info.rcWork;
    placement.Work = w;
    Rect r;
    if (!GetVisibleFrame(window, r)) return Decided(texts, placement, TDecision::dcNoFrame);
    placement.Frame = r;
    // A video, a presentation or a game covers its whole monitor, taskbar
    // included, or every monitor at once, on purpose.
    if (r == info.rcMonitor || r == VirtualScreen()) return Decided(texts, placement, TDecision::dcFullScreen);
    if (!PointOutsideRect(w, {r.Right, r.Bottom}) && !PointOutsideRect(w, {r.Left, r.Top}))
        return Decided(texts, placement, TDecision::dcInside);
    // Outside the work area by definition, and pulled into it would cover
    // the user's windows.
    if (InDockingBand(r, info) || IsAutoHideBar(window, info))
        return Decided(texts, placement, TDecision::dcDockedBar);
    // A move waits until the window's program handles it, so a program that
    // has stopped answering would hold the run up for good.
    if (!Answers(window)) return Decided(texts, placement, TDecision::dcNotResponding);

    // Bottom-right corner first, by shifting only; a window larger than the
    // work area is thereby pushed out at the top-left, which the second step
    // then brings in and cuts down to the work area's size.
    if (PointOutsideRect(w, {r.Right, r.Bottom})) {
        const std::int64_t width = r.Width();
        const std::int64_t height = r.Height();
        r.Right = std::min(r.Right, w.Right);
        r.Bottom = std::min(r.Bottom, w.Bottom);
        r.Left = ClampToInt32(r.Right - width);
        r.Top = ClampToInt32(r.Bottom - height);
        Move(window, r.Left, r.Top, width, height);
    }
    if (PointOutsideRect(w, {r.Left, r.Top})) {
        const std::int64_t width = std::min(r.Width(), w.Width());
        const std::int64_t height = std::min(r.Height(), w.Height());
        r.Left = std::max(r.Left, w.Left);
        r.Top = std::max(r.Top, w.Top);
        // The shrink is part of the move: the frame ends at the new size.
        r.Right = ClampToInt32(r.Left + width);
        r.Bottom = ClampToInt32(r.Top + height);
        Move(window, r.Left, r.Top, width, height);
    }
    placement.Target = r;
    return Decided(texts, placement, TDecision::dcMove);
}

void WindowPass() { Os().EnumWindows(&PlaceWindow, 0); }

}  // namespace tessel
