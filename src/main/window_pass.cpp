#include "main/window_pass.h"

#include <algorithm>

#include "main/tessel.h"
#include "masks/mask.h"
#include "rules/string_list.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

std::uint32_t TargetProcessId = 0;

std::optional<int> ExemptingRule(TWindowTexts& texts) {
    const int count = ExclusionRules->Count();
    for (int i = 0; i < count; ++i) {
        const auto [titleMask, classMask] = ExclusionRules->SplitNameValue(ExclusionRules->Entry(i));
        if (WindowMatchesRule(texts, classMask, titleMask, *CompiledMasks)) return i;
    }
    return std::nullopt;
}

bool PointOutsideRect(const Rect& area, Point p) {
    return p.X < area.Left || p.X > area.Right || p.Y < area.Top || area.Bottom < p.Y;
}

bool PlaceWindow(WindowHandle window, std::intptr_t) {
    if (TargetProcessId != 0) {
        std::uint32_t processId = 0;
        Os().GetWindowThreadProcessId(window, &processId);
        if (processId != TargetProcessId) return true;
    }
    TWindowTexts texts(window);
    if (ExemptingRule(texts).has_value()) return true;
    if (!Os().IsWindowVisible(window) || Os().IsIconic(window)) return true;
    const MonitorHandle monitor = Os().MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor == 0) return true;
    MonitorInfo info;
    info.cbSize = MonitorInfoSize;
    if (!Os().GetMonitorInfoW(monitor, &info)) return true;
    const Rect w = info.rcWork;
    Rect r;
    if (!GetVisibleFrame(window, r)) return true;

    // Bottom-right corner first, by shifting only; a window larger than the
    // work area is thereby pushed out at the top-left, which the second step
    // then brings in and cuts down to the work area's size.
    if (PointOutsideRect(w, {r.Right, r.Bottom})) {
        const std::int32_t width = r.Width();
        const std::int32_t height = r.Height();
        r.Right = std::min(r.Right, w.Right);
        r.Bottom = std::min(r.Bottom, w.Bottom);
        r.Left = r.Right - width;
        r.Top = r.Bottom - height;
        MoveVisibleFrame(window, r.Left, r.Top, width, height, true);
    }
    if (PointOutsideRect(w, {r.Left, r.Top})) {
        const std::int32_t width = std::min(r.Width(), w.Width());
        const std::int32_t height = std::min(r.Height(), w.Height());
        r.Left = std::max(r.Left, w.Left);
        r.Top = std::max(r.Top, w.Top);
        MoveVisibleFrame(window, r.Left, r.Top, width, height, true);
    }
    return true;
}

void WindowPass() { Os().EnumWindows(&PlaceWindow, 0); }

}  // namespace tessel
