#include "main/window_pass.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "main/tessel.h"
#include "rules/string_list.h"
#include "runtime/exception.h"

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
        {"no monitor", {.NoMonitor = true}},
        {"frame unreadable", {.RectUnreadable = true}},
        {"taskbar", {.ClassName = u"Shell_TrayWnd"}},
        {"secondary taskbar", {.ClassName = u"Shell_SecondaryTrayWnd"}},
        {"taskbar, folded", {.ClassName = u"shell_traywnd"}},
    };
    for (const auto& c : cases) {
        desktop.Windows.clear();
        desktop.Moves.clear();
        Add(out, c.Window);
        WindowPass();
        EXPECT_TRUE(desktop.Moves.empty()) << c.Why;
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
        ExclusionRules->Add(BuiltInRule);
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

}  // namespace
}  // namespace tessel
