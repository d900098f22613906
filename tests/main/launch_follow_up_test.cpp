#include "main/launch_follow_up.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "fixtures.h"
#include "main/window_pass.h"

namespace tessel {
namespace {

// ---- When to stop following ---------------------------------------------

struct FollowUpEvent {
    enum Kind { Judged, JudgedMain, Closed, Ask } What;
    std::uint64_t Time;
    WindowHandle Window = 0;
    bool Stop = false;  // Ask: the answer wanted
};

struct FollowUpCase {
    const char* Name;
    std::vector<FollowUpEvent> Events;
};

constexpr std::uint64_t Launch = 5000;
using E = FollowUpEvent;

const FollowUpCase FollowUpCases[] = {
    {"a program without windows is followed for 30 s",
     {{E::Ask, Launch}, {E::Ask, Launch + 29999}, {E::Ask, Launch + 30000, 0, true}}},
    {"a main window judged in the pass ends it 2 s later",
     {{E::JudgedMain, Launch, 1}, {E::Ask, Launch + 1999}, {E::Ask, Launch + 2000, 0, true}}},
    {"a splash screen alone never ends it before the limit",
     {{E::Judged, Launch, 1}, {E::Ask, Launch + 20000}, {E::Ask, Launch + 30000, 0, true}}},
    {"after a splash screen the main window ends it 2 s after the main window",
     {{E::Judged, Launch, 1}, {E::JudgedMain, Launch + 3000, 2}, {E::Ask, Launch + 4000},
      {E::Ask, Launch + 4999}, {E::Ask, Launch + 5000, 0, true}}},
    {"each new window after the main one puts the end back",
     {{E::JudgedMain, Launch + 100, 1}, {E::Judged, Launch + 1500, 2}, {E::Ask, Launch + 2100},
      {E::Ask, Launch + 3499}, {E::Ask, Launch + 3500, 0, true}}},
    {"a main window that closed again ends nothing; the next one does",
     {{E::JudgedMain, Launch, 1}, {E::Closed, Launch + 500, 1}, {E::Ask, Launch + 9000},
      {E::JudgedMain, Launch + 9000, 2}, {E::Ask, Launch + 10999}, {E::Ask, Launch + 11000, 0, true}}},
    {"one of two main windows closing leaves the other",
     {{E::JudgedMain, Launch, 1}, {E::JudgedMain, Launch + 100, 2}, {E::Closed, Launch + 200, 1},
      {E::Ask, Launch + 2100, 0, true}}},
    {"the limit holds even right after a main window",
     {{E::JudgedMain, Launch + 29500, 1}, {E::Ask, Launch + 29999}, {E::Ask, Launch + 30000, 0, true}}},
    {"a window judged late in a slow poll does not move the time back",
     {{E::JudgedMain, Launch + 3000, 1}, {E::Judged, Launch + 2000, 2}, {E::Ask, Launch + 4999},
      {E::Ask, Launch + 5000, 0, true}}},
};

TEST(FollowUp, StopsOnceAMainWindowHasSettledOrAtTheLimit) {
    for (const FollowUpCase& c : FollowUpCases) {
        SCOPED_TRACE(c.Name);
        TFollowUp followUp(Launch);
        for (const FollowUpEvent& e : c.Events) {
            switch (e.What) {
            case E::Judged: followUp.WindowJudged(e.Time, e.Window, false); break;
            case E::JudgedMain: followUp.WindowJudged(e.Time, e.Window, true); break;
            case E::Closed: followUp.WindowClosed(e.Window); break;
            case E::Ask: EXPECT_EQ(followUp.StopFollowing(e.Time), e.Stop) << "at launch + " << e.Time - Launch; break;
            }
        }
    }
}

TEST(FollowUp, AMainWindowIsShownUnownedWithATitleBarOrOnTheTaskbar) {
    constexpr std::uint32_t Popup = 0x80000000;
    const struct {
        const char* Why;
        SimWindow Window;
        bool Main;
    } cases[] = {
        {"overlapped", {}, true},
        {"caption only", {.Style = WS_CAPTION}, true},
        {"splash screen", {.Style = Popup}, false},
        {"border without the dialog frame", {.Style = Popup | 0x00800000}, false},
        {"splash screen on the taskbar", {.Style = Popup, .ExStyle = WS_EX_APPWINDOW}, true},
        {"hidden", {.Visible = false}, false},
        {"owned dialog", {.Owner = 0x4242}, false},
    };
    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
    for (const auto& c : cases) EXPECT_EQ(IsMainWindow(desktop.AddWindow(c.Window)), c.Main) << c.Why;
}

// ---- Following the family on the simulated desktop ------------------------

constexpr std::uint32_t Launched = 21;
constexpr std::uint32_t Child = 22;
constexpr std::uint32_t Grandchild = 23;
constexpr std::uint32_t Copy = 30;
constexpr std::uint32_t Unrelated = 99;
const std::u16string Image = u"C:\\Apps\\app.exe";

SimWindow OffScreen(std::u16string title, std::uint32_t process) {
    return {.ProcessId = process, .ClassName = u"AppWindow", .Title = std::move(title), .Frame = {1800, 100, 2200, 500}};
}

SimWindow Inside(std::u16string title, std::uint32_t process) {
    return {.ProcessId = process, .ClassName = u"AppWindow", .Title = std::move(title), .Frame = {100, 100, 500, 500}};
}

constexpr std::uint32_t SplashStyle = 0x80000000 | 0x00800000;  // WS_POPUP | WS_BORDER: no title bar

// The launch of app.exe (process 21) at time 0, on a desktop that already
// holds an off-screen window of an unrelated program; each case sets up
// what the program does when, and what it must come to.
struct World {
    World() {
        desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}});
        desktop.AddWindow(OffScreen(u"unrelated", Unrelated));
        desktop.StartProcess(Unrelated, 4, u"C:\\Other\\other.exe");
        desktop.Programs[u"app.exe"] = {LaunchResult::Success, Launched, {}, Image};
        desktop.CommandLine = u"Tessel.exe app.exe";
    }

    void AddLater(std::uint64_t time, SimWindow window) {
        desktop.At(time, [this, window] { desktop.AddWindow(window); });
    }

    std::vector<std::u16string> MovedTitles() {
        std::vector<std::u16string> titles;
        for (const SimMove& move : desktop.Moves) {
            const std::u16string title = desktop.Window(move.Window).Title;
            if (std::find(titles.begin(), titles.end(), title) == titles.end()) titles.push_back(title);
        }
        return titles;
    }

    SimWindow& Titled(const std::u16string& title) {
        for (SimWindow& window : desktop.Windows)
            if (window.Title == title) return window;
        throw std::out_of_range("no window of that title");
    }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
    RunRules runRules;
};

struct FamilyCase {
    const char* Name;
    std::function<void(World&)> Plays;
    std::vector<std::u16string> Moved;  // titles, in the order of their first move
    std::uint64_t EndsFrom, EndsBy;     // the clock when the run ends
};

const FamilyCase FamilyCases[] = {
    {"a window there when the program is idle: 2 s more, as the pass left it",
     [](World& w) { w.desktop.Programs[u"app.exe"].Windows = {OffScreen(u"main", 0)}; }, {u"main"}, 2000, 2150},
    {"a stub that starts the real program and ends: the child's window a second later",
     [](World& w) {
         w.desktop.At(20, [&w] { w.desktop.StartProcess(Child, Launched, u"C:\\Apps\\real.exe"); });
         w.desktop.At(30, [&w] { w.desktop.EndProcess(Launched); });
         w.AddLater(1000, OffScreen(u"child", Child));
     },
     {u"child"}, 3000, 3150},
    {"a grandchild whose parent ended as well",
     [](World& w) {
         w.desktop.At(20, [&w] { w.desktop.StartProcess(Child, Launched, u"C:\\Apps\\real.exe"); });
         w.desktop.At(30, [&w] { w.desktop.EndProcess(Launched); });
         w.desktop.At(200, [&w] { w.desktop.StartProcess(Grandchild, Child, u"C:\\Apps\\ui.exe"); });
         w.desktop.At(400, [&w] { w.desktop.EndProcess(Child); });
         w.AddLater(1500, OffScreen(u"grandchild", Grandchild));
     },
     {u"grandchild"}, 3500, 3650},
    {"idle at once, the window three seconds later",
     [](World& w) { w.AddLater(3000, OffScreen(u"late", Launched)); }, {u"late"}, 5000, 5150},
    {"a window hidden at the pass is judged once it shows",
     [](World& w) {
         SimWindow hidden = OffScreen(u"shown later", 0);
         hidden.Visible = false;
         w.desktop.Programs[u"app.exe"].Windows = {hidden};
         w.desktop.At(1200, [&w] { w.Titled(u"shown later").Visible = true; });
     },
     {u"shown later"}, 3200, 3350},
    {"a splash screen without a title bar for three seconds, then the main window",
     [](World& w) {
         SimWindow splash = Inside(u"splash", 0);
         splash.Style = SplashStyle;
         w.desktop.Programs[u"app.exe"].Windows = {splash};
         w.desktop.At(3000, [&w] {
             std::erase_if(w.desktop.Windows, [](const SimWindow& s) { return s.Title == u"splash"; });
             w.desktop.AddWindow(OffScreen(u"main", Launched));
         });
     },
     {u"main"}, 5000, 5150},
    {"a main window that closes again, then the real one",
     [](World& w) {
         w.desktop.Programs[u"app.exe"].Windows = {Inside(u"updater", 0)};
         w.desktop.At(1000, [&w] { w.Titled(u"updater").Visible = false; });
         w.AddLater(6000, OffScreen(u"main", Launched));
     },
     {u"main"}, 8000, 8150},
    {"a copy already running opens the new window and the launched one ends",
     [](World& w) {
         w.desktop.StartProcess(Copy, 4, Image);
         w.desktop.AddWindow(OffScreen(u"copy's old window", Copy));
         w.desktop.At(50, [&w] { w.desktop.EndProcess(Launched); });
         w.AddLater(400, OffScreen(u"copy's new window", Copy));
     },
     {u"copy's new window"}, 2400, 2550},
    {"a copy already running brings its existing window to the front",
     [](World& w) {
         w.desktop.StartProcess(Copy, 4, u"c:\\apps\\APP.EXE");
         const WindowHandle front = w.desktop.AddWindow(OffScreen(u"brought to the front", Copy));
         w.desktop.AddWindow(OffScreen(u"copy's other window", Copy));
         w.desktop.At(50, [&w] { w.desktop.EndProcess(Launched); });
         w.desktop.At(300, [&w, front] { w.desktop.Foreground = front; });
     },
     {u"brought to the front"}, 2300, 2450},
    {"the front window of a program that is no copy is left alone",
     [](World& w) {
         w.desktop.StartProcess(Copy, 4, u"C:\\Elsewhere\\app.exe");
         const WindowHandle front = w.desktop.AddWindow(OffScreen(u"same name, other program", Copy));
         w.desktop.Foreground = front;
         w.AddLater(100, OffScreen(u"new", Launched));
     },
     {u"new"}, 2100, 2250},
    {"an unrelated program's new window is left alone, also when it names the launched id as its parent",
     [](World& w) {
         // Started before the launch by a process whose id the launched one got since.
         w.desktop.StartProcess(Grandchild, Launched, u"C:\\Other\\old.exe");
         w.AddLater(500, OffScreen(u"old program's new window", Grandchild));
         w.AddLater(700, OffScreen(u"unrelated new window", Unrelated));
         w.AddLater(900, OffScreen(u"main", Launched));
     },
     {u"main"}, 2900, 3050},
    {"an owned window and a splash screen do not end it; the limit does",
     [](World& w) {
         SimWindow splash = OffScreen(u"splash", 0);
         splash.Style = SplashStyle;
         SimWindow owned = OffScreen(u"owned", 0);
         owned.Owner = 0x4242;
         w.desktop.Programs[u"app.exe"].Windows = {splash, owned};
     },
     {u"splash", u"owned"}, 30000, 30150},
    {"a program that shows nothing costs 30 s",
     [](World&) {}, {}, 30000, 30150},
    {"a program slow to become idle: the limit counts from the launch",
     [](World& w) { w.desktop.Programs[u"app.exe"].IdleAfterMs = 40000; }, {}, 40000, 40000},
    {"no process snapshot: the launched process alone is followed",
     [](World& w) {
         w.desktop.SnapshotFails = true;
         w.AddLater(1000, OffScreen(u"late", Launched));
     },
     {u"late"}, 3000, 3150},
};

TEST(LaunchFollowUp, JudgesTheLateWindowsOfTheFamilyOnce) {
    for (const FamilyCase& c : FamilyCases) {
        SCOPED_TRACE(c.Name);
        World world;
        c.Plays(world);
        RunDriver();
        EXPECT_EQ(world.MovedTitles(), c.Moved);
        EXPECT_GE(world.desktop.Clock, c.EndsFrom);
        EXPECT_LE(world.desktop.Clock, c.EndsBy);
        for (std::uint32_t pause : world.desktop.Sleeps) EXPECT_EQ(pause, FollowUpPollMs);
        // Each moved window was judged once: asked once whether it answers.
        for (const SimMove& move : world.desktop.Moves)
            EXPECT_EQ(std::count(world.desktop.Pings.begin(), world.desktop.Pings.end(), move.Window), 1);
        EXPECT_EQ(world.desktop.OpenHandles(), 0u) << "every snapshot and process handle is closed";
        EXPECT_EQ(Judgements, nullptr);
    }
}

TEST(LaunchFollowUp, ALaunchWithoutAHandleIsNotFollowed) {
    World world;
    world.desktop.Programs[u"app.exe"].Result = LaunchResult::NoHandle;
    world.AddLater(100, OffScreen(u"late", Launched));
    RunDriver();
    EXPECT_TRUE(world.desktop.Sleeps.empty());
    EXPECT_EQ(world.desktop.Clock, 0u);
    EXPECT_EQ(world.MovedTitles(), std::vector<std::u16string>{u"unrelated"}) << "the pass treats every process";
}

TEST(LaunchFollowUp, EachEntryIsFollowedBeforeTheNextIsLaunched) {
    World world;
    world.desktop.Programs[u"second.exe"] = {LaunchResult::Success, 41, {}, u"C:\\Apps\\second.exe"};
    world.AddLater(1000, OffScreen(u"first's late window", Launched));
    world.desktop.CommandLine = u"Tessel.exe app.exe second.exe";
    RunDriver();
    ASSERT_EQ(world.desktop.Launches.size(), 2u);
    EXPECT_EQ(world.MovedTitles(), std::vector<std::u16string>{u"first's late window"});
    // The second program shows nothing: its 30 s run from its own launch,
    // after the first one's follow-up of about 3 s.
    EXPECT_GE(world.desktop.Clock, 33000u);
    EXPECT_LE(world.desktop.Clock, 33300u);
}

TEST(LaunchFollowUp, TheListNamesTheFollowUpsWindowsOnceAndMovesNothing) {
    World world;
    world.desktop.StdOutputType = FILE_TYPE_PIPE;
    world.desktop.Programs[u"app.exe"].Windows = {Inside(u"there at once", 0)};
    world.AddLater(1000, OffScreen(u"late", Launched));
    world.desktop.CommandLine = u"Tessel.exe -l app.exe";
    RunDriver();
    EXPECT_TRUE(world.desktop.Moves.empty());
    const std::string& list = world.desktop.StdOutput;
    const auto lines = [&](const std::string& text) {
        std::size_t count = 0;
        for (std::size_t at = list.find(text); at != std::string::npos; at = list.find(text, at + 1)) ++count;
        return count;
    };
    EXPECT_EQ(lines("\tthere at once\t"), 1u) << list;
    EXPECT_EQ(lines("\tlate\t"), 1u) << list;
    EXPECT_NE(list.find("\tlate\t1793,100,2207,507\t0,0,1920,1040\twould move to 1506,100,1920,507\r\n"),
              std::string::npos)
        << list;
    EXPECT_EQ(lines("unrelated"), 0u) << list;
}

}  // namespace
}  // namespace tessel
