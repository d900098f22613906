#pragma once
// Queries and moves of one window: its texts, the exemption test of one
// rule, and the visible frame without the invisible resize borders.
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tessel {

/// The title, at most its first 259 units; empty when it has none.
std::u16string GetWindowCaption(WindowHandle window);

/// The class name, at most its first 259 units; empty on failure.
std::u16string GetWindowClassName(WindowHandle window);

/// Whether the window's class matches `classMask` and its title `titleMask`.
/// The title mask is compiled only when the class matched, so an invalid
/// title mask raises only for such windows.
bool WindowMatchesRule(WindowHandle window, const std::u16string& classMask, const std::u16string& titleMask);

bool IsTopLevelWindow(WindowHandle window);

/// The extended frame bounds where the system and composition offer them,
/// otherwise the window rectangle.
bool GetVisibleFrame(WindowHandle window, Rect& frame);

/// Moves the window so that its visible frame lands on (x, y, x + width,
/// y + height); answers whether the platform's move succeeded.
bool MoveVisibleFrame(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                      bool repaint);

}  // namespace tessel
