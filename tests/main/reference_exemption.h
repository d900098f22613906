#pragma once
// The exemption test as it was before texts and masks were reused, kept
// plain for the tests only: every rule reads the window's class name and
// title again and compiles both of its masks again. The pass must decide as
// this does, move the same windows and fail at the same window.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "main/tessel.h"
#include "main/window_pass.h"
#include "masks/mask.h"
#include "rules/string_list.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

inline std::optional<int> ReferenceExemptingRule(WindowHandle window) {
    const int count = ExclusionRules->Count();
    for (int i = 0; i < count; ++i) {
        const std::u16string classMask = ExclusionRules->GetValueFromIndex(i);
        const std::u16string titleMask = ExclusionRules->GetName(i);
        const std::u16string className = GetWindowClassName(window);
        const std::u16string title = GetWindowCaption(window);
        if (TextMatchesMask(className, classMask) && TextMatchesMask(title, titleMask)) return i;
    }
    return std::nullopt;
}

/// The enumeration callback of the reference pass: the process filter and
/// the reference exemption test, then PlaceWindow for the rest of its tests
/// and the moves, with the rule list emptied meanwhile so that its own
/// exemption test lets the window through.
inline bool ReferencePlaceWindow(WindowHandle window, std::intptr_t param) {
    if (TargetProcessId != 0) {
        std::uint32_t processId = 0;
        Os().GetWindowThreadProcessId(window, &processId);
        if (processId != TargetProcessId) return true;
    }
    if (ReferenceExemptingRule(window).has_value()) return true;
    struct SetRulesAside {
        std::unique_ptr<TStringList> Rules = std::exchange(ExclusionRules, std::make_unique<TStringList>());
        ~SetRulesAside() { ExclusionRules = std::move(Rules); }
    } aside;
    return PlaceWindow(window, param);
}

inline void ReferenceWindowPass() { Os().EnumWindows(&ReferencePlaceWindow, 0); }

}  // namespace tessel
