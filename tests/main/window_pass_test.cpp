#include "main/window_pass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fixtures.h"
#include "main/reference_exemption.h"
#include "main/tessel.h"
#include "rules/string_list.h"
#include "runtime/exception.h"
#include "runtime/version.h"
#include "wndinfo/wnd_info.h"

namespace tessel {
namespace {

std::string Show(const Rect& r) {
    return "(" + std::to_string(r.Left) + ", " + std::to_string(r.Top) + ", " + std::to_string(r.Right) + ", " +
           std::to_string(r.Bottom) + ")";
}

// A pass with the built-in rule only, over windows without invisible borders
// so that the moves asked for are the frames the correction computed.
class Pass : public DesktopTest {
protected:
    Pass() { TargetProcessId = 0; }

    WindowHandle Add(Rect frame, SimWindow window = {}) {
        window.Frame = frame;
        window.Margins = {};
        return desktop.AddWindow(window);
    }

    /// Whether a pass over a desktop of this one window moves it.
    bool MovesAlone(Rect frame, SimWindow window = {}) {
        desktop.Windows.clear();
        desktop.Moves.clear();
        Add(frame, window);
        WindowPass();
        return !desktop.Moves.empty();
    }

    RunRules runRules;
};

struct CorrectionCase {
    Rect Work;
    Rect Frame;
    std::vector<SimMove> Moves;  // the window handle is filled in by the test
};

TEST_F(Pass, CorrectsIntoTheWorkArea) {
    const Rect w{0, 0, 1920, 1040};
    const CorrectionCase cases[] = {
        {w, w, {}},
        {w, {1520, 640, 1920, 1040}, {}},
        {w, {1800, 100, 2200, 500}, {{0, 1520, 100, 400, 400, true}}},
        {w, {1521, 100, 1921, 500}, {{0, 1520, 100, 400, 400, true}}},
        {w, {-50, -30, 350, 370}, {{0, 0, 0, 400, 400, true}}},
        {w, {-100, -100, 2100, 1200}, {{0, -280, -260, 2200, 1300, true}, {0, 0, 0, 1920, 1040, true}}},
        {w, {-900, 100, -500, 400}, {{0, -900, 100, 400, 300, true}, {0, 0, 100, 400, 300, true}}},
        {w, {100, -40, 500, 300}, {{0, 100, 0, 400, 340, true}}},
        {w, {100, 900, 500, 1300}, {{0, 100, 640, 400, 400, true}}},
        {w, {3000, 2000, 3400, 2300}, {{0, 1520, 740, 400, 300, true}}},
        {{-1280, 0, 0, 984}, {-1400, 50, -900, 450}, {{0, -1280, 50, 500, 400, true}}},
    };
    for (const CorrectionCase& c : cases) {
        SCOPED_TRACE("work " + Show(c.Work) + " frame " + Show(c.Frame));
        desktop.Windows.clear();
        desktop.Moves.clear();
        desktop.Monitors = {{c.Work, c.Work}};
        const WindowHandle window = Add(c.Frame);
        WindowPass();
        std::vector<SimMove> expected = c.Moves;
        for (SimMove& move : expected) move.Window = window;
        EXPECT_EQ(desktop.Moves, expected);
        if (!c.Moves.empty()) {
            const Rect after = desktop.Window(window).Frame;
            EXPECT_FALSE(PointOutsideRect(c.Work, {after.Left, after.Top}));
            EXPECT_FALSE(PointOutsideRect(c.Work, {after.Right, after.Bottom}));
        }
    }
}

TEST(PointOutsideRectTest, TakesTheAreaAsClosed) {
    const Rect area{-10, -20, 30, 40};
    const struct {
        Point P;
        bool Outside;
    } cases[] = {
        {{-10, -20}, false}, {{30, 40}, false}, {{0, 0}, false},  {{-11, 0}, true},
        {{31, 0}, true},     {{0, -21}, true},  {{0, 41}, true},  {{31, 41}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PointOutsideRect(area, c.P), c.Outside) << c.P.X << ", " << c.P.Y;
}

TEST_F(Pass, LeavesIneligibleWindowsAlone) {
    const Rect out{1800, 100, 2200, 500};
    const struct {
        const char* Why;
        SimWindow Window;
    } cases[] = {
        {"hidden", {.Visible = false}},
        {"minimised", {.Iconic = true}},
        {"maximised", {.Zoomed = true}},
        {"not answering", {.Hung = true}},
        {"no monitor", {.NoMonitor = true}},
        {"frame unreadable", {.RectUnreadable = true}},
        {"taskbar", {.ClassName = u"Shell_TrayWnd"}},
        {"secondary taskbar", {.ClassName = u"Shell_SecondaryTrayWnd"}},
        {"taskbar, folded", {.ClassName = u"shell_traywnd"}},
        {"the desktop", {.ClassName = u"Progman", .Title = u"Program Manager"}},
        {"behind the desktop", {.ClassName = u"WorkerW"}},
        {"behind the desktop, with a title", {.ClassName = u"WorkerW", .Title = u"x"}},
    };
    for (const auto& c : cases) EXPECT_FALSE(MovesAlone(out, c.Window)) << c.Why;
}

// Full-screen windows cover their monitor on purpose. Docked bars live in
// the band between a monitor's edge and its work area, which Windows keeps
// clear of them: pulled in, they would cover the user's windows.
TEST_F(Pass, FullScreenWindowsAndDockedBarsAreLeftAloneAndNearMissesCorrected) {
    // The primary with a bar along its top, a second monitor right of it with
    // a bar along its right side.
    desktop.Monitors = {{{0, 0, 1920, 1080}, {0, 40, 1920, 1080}}, {{1920, 0, 3200, 1024}, {1920, 0, 3150, 1024}}};
    desktop.VirtualScreen = {0, 0, 3200, 1080};
    const struct {
        const char* What;
        Rect Frame;
        bool Moved;
    } cases[] = {
        {"covers the primary", {0, 0, 1920, 1080}, false},
        {"covers the second monitor", {1920, 0, 3200, 1024}, false},
        {"covers every monitor", {0, 0, 3200, 1080}, false},
        {"one pixel larger than the primary", {0, 0, 1921, 1080}, true},
        {"one pixel narrower than the primary", {0, 0, 1919, 1080}, true},
        {"one pixel lower than the second monitor", {1920, 1, 3200, 1025}, true},
        {"fills the top band", {0, 0, 1920, 40}, false},
        {"part of the top band", {100, 0, 500, 30}, false},
        {"fills the side band", {3150, 0, 3200, 1024}, false},
        {"one pixel into the work area below the top band", {100, 0, 500, 41}, true},
        {"one pixel into the work area beside the side band", {3149, 100, 3200, 400}, true},
        {"in the band but beyond the monitor's edge", {100, -1, 500, 30}, true},
        {"in the side band and beyond the monitor's bottom", {3150, 900, 3200, 1100}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(MovesAlone(c.Frame), c.Moved) << c.What;
}

// An auto-hide bar, while hidden, lies almost wholly off its monitor; only
// the shell can tell it from a window that was left there.
TEST_F(Pass, AutoHideBarsThatTheShellNamesAreLeftAlone) {
    const Rect primary{0, 0, 1920, 1080};
    const Rect second{1920, 0, 3200, 1024};
    desktop.Monitors = {{primary, primary}, {second, second}};
    desktop.VirtualScreen = {0, 0, 3200, 1080};
    const struct {
        const char* What;
        std::uint32_t Major, Minor;
        Rect Frame;
        std::vector<SimAutoHideBar> Bars;  // the handle 0 stands for the window under test
        bool Moved;
    } cases[] = {
        {"Windows 10, the primary's bottom bar", 10, 0, {0, 1078, 1920, 1118}, {{primary, 3, 0}}, false},
        {"Windows 10, the second monitor's left bar", 10, 0, {1918, 0, 1958, 1024}, {{second, 0, 0}}, false},
        {"Windows 8, the second monitor's right bar", 6, 2, {3198, 0, 3238, 1024}, {{second, 2, 0}}, false},
        {"Windows 10, the second monitor's top bar", 10, 0, {1920, -38, 3200, 2}, {{second, 1, 0}}, false},
        {"Windows 10, another window is the bar", 10, 0, {0, 1078, 1920, 1118}, {{primary, 3, 0x42}}, true},
        {"Windows 10, no bar", 10, 0, {0, 1078, 1920, 1118}, {}, true},
        {"Windows 7, the primary's bottom bar", 6, 1, {0, 1078, 1920, 1118}, {{primary, 3, 0}}, false},
        // Windows 7 keeps auto-hide bars for the primary monitor only.
        {"Windows 7, a bar on the second monitor", 6, 1, {3198, 0, 3238, 1024}, {{second, 2, 0}}, true},
    };
    for (const auto& c : cases) {
        desktop.Windows.clear();
        desktop.Moves.clear();
        desktop.AppBarMessages.clear();
        desktop.Version.dwMajorVersion = c.Major;
        desktop.Version.dwMinorVersion = c.Minor;
        CaptureVersionFacts();
        const WindowHandle window = Add(c.Frame);
        desktop.AutoHideBars = c.Bars;
        for (SimAutoHideBar& bar : desktop.AutoHideBars)
            if (bar.Window == 0) bar.Window = window;
        WindowPass();
        EXPECT_EQ(!desktop.Moves.empty(), c.Moved) << c.What;
        const std::uint32_t wanted = c.Major > 6 || c.Minor >= 2 ? ABM_GETAUTOHIDEBAREX : ABM_GETAUTOHIDEBAR;
        for (const std::uint32_t message : desktop.AppBarMessages) EXPECT_EQ(message, wanted) << c.What;
    }
}

TEST_F(Pass, AsksTheShellForAutoHideBarsOnlyAboutWindowsItWouldMove) {
    Add({100, 100, 500, 500});
    Add({0, 1040, 1920, 1080});
    Add({1800, 100, 2200, 500}, {.Visible = false});
    WindowPass();
    EXPECT_TRUE(desktop.AppBarMessages.empty());
    Add({1800, 100, 2200, 500});
    WindowPass();
    EXPECT_EQ(desktop.AppBarMessages.size(), 4u) << "one question per edge";
}

// The shell's own surfaces (the Start menu, search) and suspended Store apps
// are visible top-level windows that the desktop window manager hides. The
// windows of other virtual desktops are hidden the same way, but they are
// the user's own.
TEST_F(Pass, CloakedWindowsAreLeftAloneButThoseOnAnotherVirtualDesktopCorrected) {
    desktop.Composition = true;
    desktop.Version.dwMajorVersion = 10;
    desktop.Version.dwMinorVersion = 0;
    CaptureVersionFacts();
    const struct {
        const char* What;
        SimWindow Window;
        bool ManagerMissing;
        bool Moved;
    } cases[] = {
        {"the query fails, as before Windows 8", {.CloakUnreadable = true}, false, true},
        {"not cloaked", {.Cloaked = 0}, false, true},
        {"cloaked by the shell, on the current desktop", {.Cloaked = 2}, false, false},
        {"cloaked by its program", {.Cloaked = 1}, false, false},
        {"cloaked, on another virtual desktop", {.Cloaked = 2, .OnOtherVirtualDesktop = true}, false, true},
        {"cloaked, no virtual-desktop manager", {.Cloaked = 2, .OnOtherVirtualDesktop = true}, true, false},
    };
    for (const auto& c : cases) {
        desktop.VirtualDesktopManagerMissing = c.ManagerMissing;
        VirtualDesktops = std::make_unique<TVirtualDesktops>();
        EXPECT_EQ(MovesAlone({1800, 100, 2200, 500}, c.Window), c.Moved) << c.What;
    }
}

TEST_F(Pass, COMIsLoadedOnlyForACloakedWindowAndTheManagerMadeOncePerRun) {
    desktop.Composition = true;
    desktop.Version.dwMajorVersion = 10;
    CaptureVersionFacts();
    Add({1800, 100, 2200, 500});
    Add({100, 100, 500, 500});
    WindowPass();
    EXPECT_EQ(desktop.ComInitialisations, 0) << "no cloaked window, no COM";
    Add({1800, 100, 2200, 500}, {.Cloaked = 2});
    Add({1800, 600, 2200, 900}, {.Cloaked = 2, .OnOtherVirtualDesktop = true});
    WindowPass();
    WindowPass();
    EXPECT_EQ(desktop.ComInitialisations, 1);
    EXPECT_EQ(desktop.VirtualDesktopManagers, 1);
    EXPECT_EQ(desktop.ComDepth, 1) << "kept for the run";
    VirtualDesktops.reset();
    EXPECT_EQ(desktop.ComObjectsReleased, 1);
    EXPECT_EQ(desktop.ComDepth, 0);
    EXPECT_EQ(desktop.UnbalancedComReleases, 0);
}

TEST_F(Pass, AsksWhetherAWindowAnswersOnlyBeforeMovingItAndGoesOnWithoutIt) {
    const WindowHandle inside = Add({100, 100, 500, 500});
    const WindowHandle hung = Add({1800, 100, 2200, 500}, {.Hung = true});
    const WindowHandle after = Add({1800, 600, 2200, 900});
    WindowPass();
    EXPECT_EQ(desktop.Pings, (std::vector<WindowHandle>{hung, after}));
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0].Window, after);
    EXPECT_EQ(desktop.Window(inside).Frame, (Rect{100, 100, 500, 500}));
}

TEST_F(Pass, ExtremeRectanglesAreCorrectedWithoutOverflow) {
    constexpr std::int32_t Min = INT32_MIN;
    constexpr std::int32_t Max = INT32_MAX;
    const Rect w{0, 0, 1920, 1040};
    const struct {
        Rect Frame;
        std::vector<SimMove> Moves;  // the window handle is filled in by the test
    } cases[] = {
        {{Min, Min, Max, Max}, {{0, Min, Min, Max, Max, true}, {0, 0, 0, 1920, 1040, true}}},
        {{Max - 100, Max - 100, Max, Max}, {{0, 1820, 940, 100, 100, true}}},
        {{Min, Min, Min + 100, Min + 100}, {{0, Min, Min, 100, 100, true}, {0, 0, 0, 100, 100, true}}},
        {{Min, 0, 0, 100}, {{0, 0, 0, 1920, 100, true}}},
        {{-5, 10, Max, 20}, {{0, 1915 - Max, 10, Max, 10, true}, {0, 0, 10, 1920, 10, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("frame " + Show(c.Frame));
        desktop.Windows.clear();
        desktop.Moves.clear();
        desktop.Monitors = {{w, w}};
        const WindowHandle window = Add(c.Frame);
        WindowPass();
        std::vector<SimMove> expected = c.Moves;
        for (SimMove& move : expected) move.Window = window;
        EXPECT_EQ(desktop.Moves, expected);
        const Rect after = desktop.Window(window).Frame;
        EXPECT_FALSE(PointOutsideRect(w, {after.Left, after.Top}));
        EXPECT_FALSE(PointOutsideRect(w, {after.Right, after.Bottom}));
    }
}

TEST_F(Pass, UnreadableMonitorInfoMakesTheWindowIneligible) {
    desktop.Monitors[0].InfoUnreadable = true;
    Add({1800, 100, 2200, 500});
    WindowPass();
    EXPECT_TRUE(desktop.Moves.empty());
}

TEST_F(Pass, TaskbarClassWithATitleIsNotExempt) {
    SimWindow titled;
    titled.ClassName = u"Shell_TrayWnd";
    titled.Title = u"x";
    Add({1800, 100, 2200, 500}, titled);
    WindowPass();
    EXPECT_EQ(desktop.Moves.size(), 1u);
}

TEST_F(Pass, FiltersByTargetProcess) {
    SimWindow mine;
    mine.ProcessId = 7;
    SimWindow other;
    other.ProcessId = 8;
    const WindowHandle a = Add({1800, 100, 2200, 500}, mine);
    Add({1800, 100, 2200, 500}, other);
    TargetProcessId = 7;
    WindowPass();
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0].Window, a);
}

TEST_F(Pass, VisitsEveryWindowOnceAndGoesOnAfterAFailedMove) {
    SimWindow stuck;
    stuck.MoveFails = true;
    for (int i = 0; i < 5; ++i) Add({1800 + i, 100, 2200 + i, 500}, i == 1 ? stuck : SimWindow{});
    WindowPass();
    EXPECT_EQ(desktop.WindowVisits, 5);
    EXPECT_EQ(desktop.Moves.size(), 5u);
    for (std::size_t i = 0; i < desktop.Moves.size(); ++i)
        EXPECT_EQ(desktop.Moves[i].Window, desktop.Windows[i].Handle) << "each window is moved once, in order";
}

TEST_F(Pass, RulesExemptByTitleAndClass) {
    const std::u16string longTitle = std::u16string(259, u'a') + u"xyz";
    const struct {
        std::vector<std::u16string> Rules;  // after the built-in rule
        const char16_t* ClassName;
        std::u16string Title;
        bool Exempt;
    } cases[] = {
        {{}, u"Notepad", u"memo", false},
        {{u"*=Notepad"}, u"Notepad", u"memo", true},
        {{u"memo=*"}, u"Other", u"MEMO", true},
        {{u"memo=Other"}, u"Notepad", u"memo", false},
        {{u"other=Notepad"}, u"Notepad", u"memo", false},
        {{u"=Notepad"}, u"Notepad", u"memo", false},
        {{u"no separator"}, u"Notepad", u"memo", false},
        {{u""}, u"", u"", true},
        {{u"x=y", u"m*=N*"}, u"Notepad", u"memo", true},
        {{u"*xyz=*"}, u"Notepad", longTitle, false},
        {{u"*a=*"}, u"Notepad", longTitle, true},
        {{u"a=b=c"}, u"b=c", u"a", true},
        {{u" a = b"}, u" b", u" a ", true},
        {{u" a = b"}, u"b", u"a", false},
    };
    for (const auto& c : cases) {
        ExclusionRules = std::make_unique<TStringList>();
        AddBuiltInRules(*ExclusionRules);
        for (const std::u16string& rule : c.Rules) ExclusionRules->Add(rule);
        desktop.Windows.clear();
        desktop.Moves.clear();
        Add({1800, 100, 2200, 500}, {.ClassName = c.ClassName, .Title = c.Title});
        WindowPass();
        EXPECT_EQ(desktop.Moves.empty(), c.Exempt) << Narrow(c.ClassName) << " / " << Narrow(c.Title);
    }
}

TEST_F(Pass, AnEmptyRuleListExemptsNothing) {
    ExclusionRules = std::make_unique<TStringList>();
    Add({1800, 100, 2200, 500}, {.ClassName = u"Shell_TrayWnd"});
    WindowPass();
    EXPECT_EQ(desktop.Moves.size(), 1u);
}

TEST_F(Pass, AnInvalidMaskEndsThePassAndKeepsEarlierMoves) {
    ExclusionRules->Add(u"[=Other");
    SimWindow other;
    other.ClassName = u"Other";
    const WindowHandle first = Add({1800, 100, 2200, 500});
    Add({1800, 100, 2200, 500}, other);
    Add({1800, 100, 2200, 500});
    EXPECT_THROW(WindowPass(), EMaskException);
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0].Window, first);
}

TEST_F(Pass, AnInvalidClassMaskFailsAtTheFirstWindowTested) {
    // The exemption test comes before the visibility test.
    ExclusionRules->Add(u"=[");
    Add({0, 0, 10, 10}, {.Visible = false});
    EXPECT_THROW(WindowPass(), EMaskException);
}

TEST_F(Pass, NearestMonitorDecidesTheWorkArea) {
    desktop.Monitors = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}, {{-1280, -200, 0, 824}, {-1280, -200, 0, 784}}};
    // Mostly on the left monitor, sticking out of its bottom.
    const WindowHandle left = Add({-1200, 700, -400, 900});
    // Spanning both, mostly on the primary.
    const WindowHandle span = Add({-100, 100, 700, 500});
    WindowPass();
    EXPECT_EQ(desktop.Window(left).Frame, (Rect{-1200, 584, -400, 784}));
    EXPECT_EQ(desktop.Window(span).Frame, (Rect{0, 100, 800, 500}));
}

// ---- The pass against the reference exemption test ----------------------

// Desktops and rule lists drawn from small vocabularies, so that masks match
// often, windows fail rules at the class and at the title, and about half of
// the rule lists hold a mask that does not compile.
struct Trial {
    std::vector<SimWindow> Windows;
    std::vector<std::u16string> Rules;  // after the built-in rule
    std::uint32_t TargetProcessId = 0;
};

class TrialGenerator {
public:
    Trial Next() {
        static const char16_t* const Classes[] = {u"Notepad", u"Shell_TrayWnd", u"Shell_SecondaryTrayWnd", u"IME",
                                                  u"tooltips_class32", u"CabinetWClass", u""};
        static const char16_t* const Titles[] = {u"", u"memo", u"readme.txt - Notepad", u"Default IME", u"[draft]"};
        static const char16_t* const ClassMasks[] = {u"Notepad", u"*", u"Shell_*TrayWnd", u"I?E", u"[A-M]*",
                                                     u"*class*", u"", u"[", u"x[-a]", u"*[b-a]"};
        static const char16_t* const TitleMasks[] = {u"*", u"", u"memo", u"*Notepad", u"DEFAULT*", u"[[]*",
                                                     u"*e*", u"[]", u"[!"};
        Trial trial;
        for (std::size_t n = 1 + Pick(8); n > 0; --n) {
            SimWindow window{.ProcessId = static_cast<std::uint32_t>(1 + Pick(2)),
                             .ClassName = Classes[Pick(std::size(Classes))],
                             .Title = Titles[Pick(std::size(Titles))],
                             .Visible = Pick(4) != 0};
            const int shift = 10 * static_cast<int>(n);
            window.Frame = Pick(2) == 0 ? Rect{100, 100, 500, 400} : Rect{1800, 100 + shift, 2200, 500 + shift};
            window.Margins = {};
            trial.Windows.push_back(window);
        }
        for (std::size_t n = Pick(6); n > 0; --n) {
            std::u16string rule = TitleMasks[Pick(std::size(TitleMasks))];
            if (Pick(8) != 0) rule += u"=";
            trial.Rules.push_back(rule + ClassMasks[Pick(std::size(ClassMasks))]);
        }
        trial.TargetProcessId = static_cast<std::uint32_t>(Pick(3));
        return trial;
    }

private:
    std::size_t Pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(FRandom); }
    std::mt19937 FRandom{13};
};

std::string Failure(const Exception& error) { return Narrow(error.ClassName()) + ": " + Narrow(error.Message()); }

// What one pass did: its moves, and the failure with the window it met.
struct PassOutcome {
    std::vector<SimMove> Moves;
    std::string Failure;
    std::vector<std::string> ReadFaults;  // windows read more often than the goal allows
    friend bool operator==(const PassOutcome& a, const PassOutcome& b) {
        return a.Moves == b.Moves && a.Failure == b.Failure;
    }
};

// Whether any rule's class mask matches the class: only then may a pass read
// a window's title.
bool SomeClassMaskMatches(const std::u16string& className) {
    for (int i = 0; i < ExclusionRules->Count(); ++i) {
        try {
            if (TextMatchesMask(className, ExclusionRules->GetValueFromIndex(i))) return true;
        } catch (const EMaskException&) {
        }
    }
    return false;
}

// Two passes of one run over the trial's desktop, the second finding the
// moves of the first and the masks the first compiled.
std::vector<PassOutcome> RunPasses(const Trial& trial, void (*pass)()) {
    SimulatedDesktop desktop;
    desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}});
    for (const SimWindow& window : trial.Windows) desktop.AddWindow(window);
    ScopedPlatform scope(desktop);
    RunRules runRules;
    for (const std::u16string& rule : trial.Rules) ExclusionRules->Add(rule);
    TargetProcessId = trial.TargetProcessId;
    std::vector<PassOutcome> outcomes;
    for (int i = 0; i < 2; ++i) {
        PassOutcome outcome;
        desktop.Moves.clear();
        desktop.WindowVisits = 0;
        desktop.ClassNameReads.clear();
        desktop.TitleReads.clear();
        try {
            pass();
        } catch (const Exception& error) {
            outcome.Failure = Failure(error) + " at window " + std::to_string(desktop.WindowVisits);
        }
        outcome.Moves = desktop.Moves;
        for (const SimWindow& window : desktop.Windows) {
            const int classReads = desktop.ClassNameReads[window.Handle];
            const int titleReads = desktop.TitleReads[window.Handle];
            if (classReads > 1 || titleReads > 1 || (titleReads > 0 && !SomeClassMaskMatches(window.ClassName)))
                outcome.ReadFaults.push_back(Narrow(window.ClassName) + " read " + std::to_string(classReads) +
                                             " and " + std::to_string(titleReads) + " times");
        }
        outcomes.push_back(outcome);
    }
    TargetProcessId = 0;
    return outcomes;
}

std::string Describe(const Trial& trial) {
    std::string text = "target " + std::to_string(trial.TargetProcessId) + ", rules:";
    for (const std::u16string& rule : trial.Rules) text += " '" + Narrow(rule) + "'";
    text += ", windows:";
    for (const SimWindow& w : trial.Windows)
        text += " [" + Narrow(w.ClassName) + " / " + Narrow(w.Title) + (w.Visible ? "" : ", hidden") + "]";
    return text;
}

TEST(PassAgainstReference, SameMovesAndTheSameFailureAtTheSameWindow) {
    TrialGenerator generator;
    int failed = 0, moved = 0;
    for (int i = 0; i < 3000; ++i) {
        const Trial trial = generator.Next();
        const std::vector<PassOutcome> want = RunPasses(trial, &ReferenceWindowPass);
        const std::vector<PassOutcome> got = RunPasses(trial, &WindowPass);
        ASSERT_EQ(got, want) << Describe(trial) << "\nwanted failure '" << want[0].Failure << "', got '"
                             << got[0].Failure << "'";
        for (const PassOutcome& outcome : got)
            ASSERT_TRUE(outcome.ReadFaults.empty()) << Describe(trial) << ": " << outcome.ReadFaults[0];
        failed += !got[0].Failure.empty();
        moved += !got[0].Moves.empty();
    }
    EXPECT_GT(failed, 500);
    EXPECT_GT(moved, 500);
}

// The rule that exempts each window, window after window of one run; unlike
// a pass this goes on after a failure, so a mask that failed once must fail
// again at every later window that needs it.
TEST(PassAgainstReference, SameRuleExemptsEachWindow) {
    TrialGenerator generator;
    std::map<std::string, int> seen;
    for (int i = 0; i < 3000; ++i) {
        const Trial trial = generator.Next();
        SimulatedDesktop desktop;
        for (const SimWindow& window : trial.Windows) desktop.AddWindow(window);
        ScopedPlatform scope(desktop);
        RunRules runRules;
        for (const std::u16string& rule : trial.Rules) ExclusionRules->Add(rule);
        const auto decide = [](const std::function<std::optional<int>()>& test) -> std::string {
            try {
                const std::optional<int> rule = test();
                return rule ? "rule " + std::to_string(*rule) : "not exempt";
            } catch (const Exception& error) {
                return Failure(error);
            }
        };
        for (const SimWindow& window : desktop.Windows) {
            const std::string want = decide([&] { return ReferenceExemptingRule(window.Handle); });
            TWindowTexts texts(window.Handle);
            const std::string got = decide([&] { return ExemptingRule(texts); });
            ASSERT_EQ(got, want) << Describe(trial) << ", at " << Narrow(window.ClassName) << " / "
                                 << Narrow(window.Title);
            ++seen[want.substr(0, 4)];
        }
    }
    EXPECT_GT(seen["rule"], 1000);
    EXPECT_GT(seen["not "], 1000);
    EXPECT_GT(seen["EMas"], 1000);
}

}  // namespace
}  // namespace tessel
