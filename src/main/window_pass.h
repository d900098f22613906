#pragma once
// One pass over the desktop's top-level windows, moving each eligible one
// whose visible frame sticks out of its monitor's work area back inside.
#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace tessel {

/// The process whose windows a pass treats; 0 means every process.
extern std::uint32_t TargetProcessId;

class TWindowTexts;

/// The index in ExclusionRules of the first rule that exempts the window,
/// trying them in list order; none when no rule does. Masks come from
/// CompiledMasks; an invalid one raises EMaskException when first reached.
std::optional<int> ExemptingRule(TWindowTexts& texts);

/// True when P lies outside Area taken as a closed rectangle.
bool PointOutsideRect(const Rect& area, Point p);

/// The enumeration callback; answers true for every window so that a pass
/// never ends early.
bool PlaceWindow(WindowHandle window, std::intptr_t param);

/// Offers every top-level window to `PlaceWindow`.
void WindowPass();

}  // namespace tessel
