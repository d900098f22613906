#include "main/window_pass.h"

#include <algorithm>

#include "main/tessel.h"
#include "rules/string_list.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

std::uint32_t TargetProcessId = 0;

namespace {

bool IsExempt(WindowHandle window) {
    const int count = ExclusionRules->Count();
    for (int i = 0; i < count; ++i) {
        if (WindowMatchesRule(window, ExclusionRules->GetValueFromIndex(i), ExclusionRules->GetName(i)))
            return true;
    }
    return false;
}

/// The rectangle that holds every monitor.
Rect VirtualScreen() {
    const std::int32_t left = Os().GetSystemMetrics(SM_XVIRTUALSCREEN);
    const std::int32_t top = Os().GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, ClampToInt32(std::int64_t{left} + Os().GetSystemMetrics(SM_CXVIRTUALSCREEN)),
            ClampToInt32(std::int64_t{top} + Os().GetSystemMetrics(SM_CYVIRTUALSCREEN))};
}

/// Whether the window's program handles a message within a second. Tessel
/// has no windows of its own, so every window asked belongs to another
/// program; one that is hung is given up on at once.
bool Answers(WindowHandle window) {
    constexpr std::uint32_t AnswerTimeoutMs = 1000;
    std::uintptr_t result = 0;
    return Os().SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, AnswerTimeoutMs, &result);
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
    if (IsExempt(window)) return true;
    // A maximised window's borders hang off the work area by design.
    if (!Os().IsWindowVisible(window) || Os().IsIconic(window) || Os().IsZoomed(window)) return true;
    const MonitorHandle monitor = Os().MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor == 0) return true;
    MonitorInfo info;
    info.cbSize = MonitorInfoSize;
    if (!Os().GetMonitorInfoW(monitor, &info)) return true;
    const Rect w = info.rcWork;
    Rect r;
    if (!GetVisibleFrame(window, r)) return true;
    // A video, a presentation or a game covers its whole monitor, taskbar
    // included, or every monitor at once, on purpose.
    if (r == info.rcMonitor || r == VirtualScreen()) return true;
    if (!PointOutsideRect(w, {r.Right, r.Bottom}) && !PointOutsideRect(w, {r.Left, r.Top})) return true;
    // A move waits until the window's program handles it, so a program that
    // has stopped answering would hold the run up for good.
    if (!Answers(window)) return true;

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
        MoveVisibleFrame(window, r.Left, r.Top, ClampToInt32(width), ClampToInt32(height), true);
    }
    if (PointOutsideRect(w, {r.Left, r.Top})) {
        const std::int64_t width = std::min(r.Width(), w.Width());
        const std::int64_t height = std::min(r.Height(), w.Height());
        r.Left = std::max(r.Left, w.Left);
        r.Top = std::max(r.Top, w.Top);
        MoveVisibleFrame(window, r.Left, r.Top, ClampToInt32(width), ClampToInt32(height), true);
    }
    return true;
}

void WindowPass() { Os().EnumWindows(&PlaceWindow, 0); }

}  // namespace tessel
