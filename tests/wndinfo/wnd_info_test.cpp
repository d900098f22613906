#include "wndinfo/wnd_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fixtures.h"
#include "masks/mask.h"
#include "runtime/exception.h"
#include "runtime/version.h"

namespace tessel {
namespace {

class WndInfo : public DesktopTest {
protected:
    void UseVersion(std::uint32_t major, std::uint32_t minor) {
        desktop.Version.dwMajorVersion = major;
        desktop.Version.dwMinorVersion = minor;
        CaptureVersionFacts();
    }
};

TEST_F(WndInfo, TextsAreReadIntoRoomFor259Units) {
    SimWindow window;
    window.Title = std::u16string(300, u't');
    window.ClassName = std::u16string(259, u'c');
    const WindowHandle handle = desktop.AddWindow(window);
    EXPECT_EQ(GetWindowCaption(handle), std::u16string(259, u't'));
    EXPECT_EQ(GetWindowClassName(handle), std::u16string(259, u'c'));
    EXPECT_EQ(GetWindowCaption(0x9999), u"") << "an unknown window has no title";
}

TEST_F(WndInfo, TextsAreReadOnFirstNeedAndOnce) {
    const WindowHandle handle = desktop.AddWindow({.ClassName = u"Notepad", .Title = u"memo"});
    TWindowTexts texts(handle);
    EXPECT_TRUE(desktop.ClassNameReads.empty());
    EXPECT_TRUE(desktop.TitleReads.empty());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(texts.ClassName(), u"Notepad");
        EXPECT_EQ(texts.Caption(), u"memo");
    }
    EXPECT_EQ(desktop.ClassNameReads[handle], 1);
    EXPECT_EQ(desktop.TitleReads[handle], 1);
}

TEST_F(WndInfo, RuleTestsTheClassFirstAndTheTitleOnlyWhenTheClassMatched) {
    SimWindow window;
    window.ClassName = u"Notepad";
    window.Title = u"readme.txt - Notepad";
    const WindowHandle handle = desktop.AddWindow(window);
    const struct {
        const char16_t* ClassMask;
        const char16_t* TitleMask;
        bool Matches;
        int TitleReads;
    } cases[] = {
        {u"Notepad", u"*Notepad", true, 1},
        {u"notepad", u"README*", true, 1},
        {u"Notepad", u"", false, 1},
        {u"Other", u"*", false, 0},
        {u"Other", u"[", false, 0},  // the invalid title mask is never compiled
    };
    for (const auto& c : cases) {
        desktop.TitleReads.clear();
        TMaskCache masks;
        TWindowTexts texts(handle);
        EXPECT_EQ(WindowMatchesRule(texts, c.ClassMask, c.TitleMask, masks), c.Matches)
            << Narrow(c.ClassMask) << " / " << Narrow(c.TitleMask);
        EXPECT_EQ(desktop.TitleReads[handle], c.TitleReads) << Narrow(c.ClassMask) << " / " << Narrow(c.TitleMask);
    }
    TMaskCache masks;
    TWindowTexts texts(handle);
    EXPECT_THROW(WindowMatchesRule(texts, u"Notepad", u"[", masks), EMaskException);
    EXPECT_THROW(WindowMatchesRule(texts, u"[", u"*", masks), EMaskException);
}

TEST_F(WndInfo, TopLevelMeansTheDesktopIsTheParent) {
    const WindowHandle top = desktop.AddWindow({});
    const WindowHandle child = desktop.AddWindow({.TopLevel = false});
    EXPECT_TRUE(IsTopLevelWindow(top));
    EXPECT_FALSE(IsTopLevelWindow(child));
}

TEST_F(WndInfo, VisibleFrameIsTheExtendedBoundsOnlyWhereAllGatesOpen) {
    const Rect frame{100, 100, 500, 400};
    const Rect windowRect{93, 100, 507, 407};
    const struct {
        const char* Why;
        std::uint32_t Major;
        bool Composition;
        HResult CompositionResult;
        bool TopLevel;
        bool FrameUnreadable;
        Rect Expected;
        int DwmCalls;
    } cases[] = {
        {"all gates open", 6, true, S_OK, true, false, frame, 1},
        {"system before version 6", 5, true, S_OK, true, false, windowRect, 0},
        {"composition off", 10, false, S_OK, true, false, windowRect, 1},
        {"composition query answers S_FALSE", 10, true, 1, true, false, windowRect, 1},
        {"not a top-level window", 10, true, S_OK, false, false, windowRect, 0},
        {"frame bounds unavailable", 10, true, S_OK, true, true, windowRect, 1},
    };
    for (const auto& c : cases) {
        desktop.Windows.clear();
        desktop.DwmLoads = 0;
        desktop.Composition = c.Composition;
        desktop.CompositionResult = c.CompositionResult;
        UseVersion(c.Major, 0);
        const WindowHandle handle =
            desktop.AddWindow({.Frame = frame, .TopLevel = c.TopLevel, .FrameUnreadable = c.FrameUnreadable});
        Rect got;
        EXPECT_TRUE(GetVisibleFrame(handle, got)) << c.Why;
        EXPECT_EQ(got, c.Expected) << c.Why;
        EXPECT_EQ(desktop.DwmLoads, c.DwmCalls) << c.Why;
    }
}

TEST_F(WndInfo, UnreadableWindowHasNoFrame) {
    const WindowHandle handle = desktop.AddWindow({.RectUnreadable = true});
    Rect got;
    EXPECT_FALSE(GetVisibleFrame(handle, got));
}

TEST_F(WndInfo, MissingWindowManagerEndsTheRun) {
    desktop.DwmModuleMissing = true;
    UseVersion(6, 1);
    const WindowHandle handle = desktop.AddWindow({});
    Rect got;
    try {
        GetVisibleFrame(handle, got);
        FAIL() << "no failure";
    } catch (const EExternalException& e) {
        EXPECT_EQ(e.Message(), u"外部例外 C06D007E");
    }
}

TEST_F(WndInfo, MoveGrowsTheTargetByTheMarginsMeasuredForEachMove) {
    desktop.Composition = true;
    UseVersion(10, 0);
    // The first move takes the window to a monitor with other borders.
    const WindowHandle handle = desktop.AddWindow({.Frame = {0, 0, 100, 100},
                                                   .Margins = {7, 0, 7, 7},
                                                   .MovesUntilMarginsChange = 1,
                                                   .NewMargins = {11, 1, 11, 11}});
    EXPECT_TRUE(MoveVisibleFrame(handle, 10, 20, 300, 200, true));
    EXPECT_TRUE(MoveVisibleFrame(handle, 40, 50, 300, 200, true));
    ASSERT_EQ(desktop.Moves.size(), 2u);
    EXPECT_EQ(desktop.Moves[0], (SimMove{handle, 3, 20, 314, 207, true}));
    EXPECT_EQ(desktop.Moves[1], (SimMove{handle, 29, 49, 322, 212, true}));
    EXPECT_EQ(desktop.Window(handle).Frame, (Rect{40, 50, 340, 250}));
}

TEST_F(WndInfo, MoveNearTheEndsOfTheRangeStopsThere) {
    desktop.Composition = true;
    UseVersion(10, 0);
    const WindowHandle handle = desktop.AddWindow({.Frame = {0, 0, 100, 100}, .Margins = {7, 0, 7, 7}});
    MoveVisibleFrame(handle, INT32_MAX - 5, INT32_MIN, 100, 100, true);
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0], (SimMove{handle, INT32_MAX - 12, INT32_MIN, 114, 107, true}));
}

TEST_F(WndInfo, MoveWithoutCompositionHasNoMargins) {
    UseVersion(6, 1);
    const WindowHandle handle = desktop.AddWindow({.Frame = {0, 0, 100, 100}});
    MoveVisibleFrame(handle, 10, 20, 300, 200, false);
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0], (SimMove{handle, 10, 20, 300, 200, false}));
}

TEST_F(WndInfo, MoveOfAVanishedWindowAsksWithoutMarginsAndReportsFailure) {
    EXPECT_FALSE(MoveVisibleFrame(0x9999, 10, 20, 300, 200, true));
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0], (SimMove{0x9999, 10, 20, 300, 200, true}));
}

}  // namespace
}  // namespace tessel
