#pragma once
// Queries and moves of one window: its texts, the exemption test of one
// rule, and the visible frame without the invisible resize borders.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tessel {

/// The title, at most its first 259 units; empty when it has none.
std::u16string GetWindowCaption(WindowHandle window);

/// The class name, at most its first 259 units; empty on failure.
std::u16string GetWindowClassName(WindowHandle window);

/// One window's class name and title, each read on first need and then
/// kept, so that testing a window against many rules reads each text once.
/// Reading another program's window text does not go through that program
/// (the system reads the text it keeps for the window, so a hung program
/// cannot block it), but each read is a call into the system, under Wine a
/// round trip to its server: re-reading them per rule was the bulk of a pass.
class TWindowTexts {
public:
    explicit TWindowTexts(WindowHandle window) : FWindow(window) {}

    WindowHandle Window() const { return FWindow; }
    const std::u16string& ClassName();
    const std::u16string& Caption();

private:
    WindowHandle FWindow;
    std::optional<std::u16string> FClassName;
    std::optional<std::u16string> FCaption;
};

class TMaskCache;

/// Whether the window's class matches `classMask` and its title `titleMask`.
/// The title is read and its mask compiled only when the class matched, so
/// an invalid title mask raises only for such windows.
bool WindowMatchesRule(TWindowTexts& texts, std::u16string_view classMask, std::u16string_view titleMask,
                       TMaskCache& masks);

bool IsTopLevelWindow(WindowHandle window);

/// The shell's virtual-desktop manager, made on first need and kept for the
/// run: most runs meet no cloaked window and never load COM.
class TVirtualDesktops {
public:
    TVirtualDesktops() = default;
    ~TVirtualDesktops();
    TVirtualDesktops(const TVirtualDesktops&) = delete;
    TVirtualDesktops& operator=(const TVirtualDesktops&) = delete;

    /// True only when the shell answers that the window is on a virtual
    /// desktop other than the current one; false when it cannot tell.
    bool OnOtherDesktop(WindowHandle window);

private:
    std::optional<TComApartment> FApartment;
    ComObject FManager = 0;
};

/// The manager of the run; created and released with the rule list.
extern std::unique_ptr<TVirtualDesktops> VirtualDesktops;

/// Whether the desktop window manager hides the window though it counts as
/// visible (the shell's own surfaces, suspended Store apps). A window hidden
/// only because it is on another virtual desktop is not counted: it is the
/// user's own. Asked only where the visible frame would ask the manager.
bool IsWindowCloaked(WindowHandle window);

/// The extended frame bounds where the system and composition offer them,
/// otherwise the window rectangle.
bool GetVisibleFrame(WindowHandle window, Rect& frame);

/// Moves the window so that its visible frame lands on (x, y, x + width,
/// y + height); answers whether the platform's move succeeded.
bool MoveVisibleFrame(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      bool repaint);

}  // namespace tessel
