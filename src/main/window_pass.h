#pragma once
// One pass over the desktop's top-level windows, moving each eligible one
// whose visible frame sticks out of its monitor's work area back inside.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace tessel {

/// What a pass decides for one window, in the order of the tests it makes.
enum class TDecision {
    dcExempt,
    dcHidden,
    dcMinimised,
    dcMaximised,
    dcCloaked,
    dcNoMonitor,
    dcNoFrame,
    dcFullScreen,
    dcInside,
    dcDockedBar,
    dcNotResponding,
    dcMove,
};

/// One window's decision with what the pass read on the way to it.
struct TPlacement {
    TDecision Decision = TDecision::dcExempt;
    std::optional<int> Rule;    // dcExempt: the index in ExclusionRules of the first rule that matched
    std::optional<Rect> Work;   // the nearest monitor's work area, once read
    std::optional<Rect> Frame;  // the visible frame, once read
    Rect Target;                // dcMove: the visible frame the correction ends with
};

/// The process whose windows a pass treats; 0 means every process.
extern std::uint32_t TargetProcessId;

class TWindowTexts;

/// The index in ExclusionRules of the first rule that exempts the window,
/// trying them in list order; none when no rule does. Masks come from
/// CompiledMasks; an invalid one raises EMaskException when first reached.
std::optional<int> ExemptingRule(TWindowTexts& texts);

/// True when P lies outside Area taken as a closed rectangle.
bool PointOutsideRect(const Rect& area, Point p);

/// The enumeration callback: the process filter, then `JudgeWindow`;
/// answers true for every window so that a pass never ends early.
bool PlaceWindow(WindowHandle window, std::intptr_t param);

/// The judgement of one window of any process: the tests of a pass in their
/// order, the correction of a window that sticks out, and its line in the
/// window list. Answers the decision.
TDecision JudgeWindow(WindowHandle window);

/// One window that a judgement has decided on.
struct TJudgement {
    WindowHandle Window = 0;
    TDecision Decision = TDecision::dcExempt;
    friend bool operator==(const TJudgement&, const TJudgement&) = default;
};

/// While set, every judgement is appended here: the follow-up of a launch
/// learns which windows the launch's pass has judged already.
extern std::vector<TJudgement>* Judgements;

/// Offers every top-level window to `PlaceWindow`.
void WindowPass();

}  // namespace tessel
