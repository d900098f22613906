#include "wndinfo/wnd_info.h"

#include <vector>

#include "masks/mask.h"
#include "runtime/version.h"

namespace tessel {

namespace {

constexpr int TextBufferSize = 260;

std::u16string ReadWindowText(WindowHandle window, int (Platform::*read)(WindowHandle, char16_t*, int)) {
    std::vector<char16_t> buffer(TextBufferSize, u'\0');
    const int length = (Os().*read)(window, buffer.data(), TextBufferSize);
    if (length <= 0) return {};
    return {buffer.data(), static_cast<std::size_t>(length < TextBufferSize ? length : TextBufferSize - 1)};
}

}  // namespace

std::u16string GetWindowCaption(WindowHandle window) { return ReadWindowText(window, &Platform::GetWindowTextW); }

std::u16string GetWindowClassName(WindowHandle window) { return ReadWindowText(window, &Platform::GetClassNameW); }

const std::u16string& TWindowTexts::ClassName() {
    if (!FClassName) FClassName = GetWindowClassName(FWindow);
    return *FClassName;
}

const std::u16string& TWindowTexts::Caption() {
    if (!FCaption) FCaption = GetWindowCaption(FWindow);
    return *FCaption;
}

bool WindowMatchesRule(TWindowTexts& texts, std::u16string_view classMask, std::u16string_view titleMask,
                       TMaskCache& masks) {
    if (!masks.Compiled(classMask).Matches(texts.ClassName())) return false;
    return masks.Compiled(titleMask).Matches(texts.Caption());
}

bool IsTopLevelWindow(WindowHandle window) {
    return Os().GetAncestor(window, GA_PARENT) == Os().GetDesktopWindow();
}

namespace {

/// Whether the desktop window manager is asked about the window at all; the
/// three conditions are tested in this order, and the later ones only when
/// the earlier hold, so that a system without the manager never loads it.
bool ManagerAnswersFor(WindowHandle window) {
    return IsTopLevelWindow(window) && StartupVersion.Major >= 6 && IsCompositionEnabled();
}

}  // namespace

std::unique_ptr<TVirtualDesktops> VirtualDesktops;

TVirtualDesktops::~TVirtualDesktops() {
    if (FManager != 0) Os().Release(FManager);
}

bool TVirtualDesktops::OnOtherDesktop(WindowHandle window) {
    // One attempt per run: a system without the manager (before Windows 10)
    // would otherwise be asked again for every cloaked window.
    if (!FApartment) {
        FApartment.emplace();
        Os().CreateVirtualDesktopManager(&FManager);
    }
    std::int32_t onCurrent = 1;
    return FManager != 0 && Os().IsWindowOnCurrentVirtualDesktop(FManager, window, &onCurrent) == S_OK &&
           onCurrent == 0;
}

bool IsWindowCloaked(WindowHandle window) {
    if (!ManagerAnswersFor(window)) return false;
    std::uint32_t cloaked = 0;
    if (Os().DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked) != S_OK || cloaked == 0)
        return false;
    return !VirtualDesktops->OnOtherDesktop(window);
}

bool GetVisibleFrame(WindowHandle window, Rect& frame) {
    if (ManagerAnswersFor(window) &&
        Os().DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof(Rect)) == S_OK)
        return true;
    return Os().GetWindowRect(window, &frame);
}

bool MoveVisibleFrame(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      bool repaint) {
    // Measured again for every move: the first move of a window may have
    // changed its borders (a new monitor, another DPI). When either reading
    // fails (the window is going away) the move goes ahead without margins.
    Rect windowRect;
    Rect visible;
    const bool haveWindowRect = Os().GetWindowRect(window, &windowRect);
    const bool haveVisible = GetVisibleFrame(window, visible);
    if (!haveWindowRect || !haveVisible) windowRect = visible = Rect{};
    // 64 bits wide, so that no rectangle's margins can overflow.
    const std::int64_t left = std::int64_t{x} - (std::int64_t{visible.Left} - windowRect.Left);
    const std::int64_t top = std::int64_t{y} - (std::int64_t{visible.Top} - windowRect.Top);
    const std::int64_t right = std::int64_t{x} + width + (std::int64_t{windowRect.Right} - visible.Right);
    const std::int64_t bottom = std::int64_t{y} + height + (std::int64_t{windowRect.Bottom} - visible.Bottom);
    return Os().MoveWindow(window, ClampToInt32(left), ClampToInt32(top), ClampToInt32(right - left),
                           ClampToInt32(bottom - top), repaint);
}

}  // namespace tessel
