#include "main/watch_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "main/tessel.h"
#include "main/window_pass.h"
#include "runtime/exception.h"
#include "runtime/top_level_handler.h"

namespace tessel {
namespace {

// ---- The plan: events with their times in, the moment of the pass out ----

enum class Event { Change, Lock, Unlock, Suspend, Resume, Busy, PassStarting };

struct PlanCase {
    const char* Name;
    std::vector<std::pair<std::uint64_t, Event>> Events;
    std::optional<std::uint64_t> Due;
};

const PlanCase PlanCases[] = {
    {"nothing happened: nothing is due", {}, std::nullopt},
    {"a change is due once the desktop has been still", {{1000, Event::Change}}, 1000 + SettleMs},
    {"changes in a row settle from the last", {{0, Event::Change}, {1000, Event::Change}, {2500, Event::Change}},
     2500 + SettleMs},
    {"a change while locked waits", {{0, Event::Lock}, {100, Event::Change}}, std::nullopt},
    {"an unlock is a change", {{0, Event::Lock}, {5000, Event::Unlock}}, 5000 + SettleMs},
    {"a change while asleep waits", {{0, Event::Suspend}, {10, Event::Change}}, std::nullopt},
    {"a resume is a change", {{0, Event::Suspend}, {9000, Event::Resume}}, 9000 + SettleMs},
    {"a resume while locked still waits for the unlock",
     {{0, Event::Lock}, {1, Event::Suspend}, {500, Event::Resume}}, std::nullopt},
    {"an unlock ends a sleep whose resume was not heard",
     {{0, Event::Suspend}, {1, Event::Lock}, {500, Event::Unlock}}, 500 + SettleMs},
    {"a busy user has the pass asked again later", {{0, Event::Change}, {3000, Event::Busy}}, 3000 + BusyRecheckMs},
    {"a change while busy settles again", {{0, Event::Change}, {3000, Event::Busy}, {3500, Event::Change}},
     3500 + SettleMs},
    {"the pass ends what was pending", {{0, Event::Change}, {3000, Event::PassStarting}}, std::nullopt},
    {"a change during the pass needs another",
     {{0, Event::Change}, {3000, Event::PassStarting}, {3100, Event::Change}}, 3100 + SettleMs},
};

TEST(WatchPlan, AnswersWhenThePassIsDue) {
    for (const PlanCase& c : PlanCases) {
        SCOPED_TRACE(c.Name);
        TWatchPlan plan;
        for (const auto& [at, event] : c.Events) {
            switch (event) {
            case Event::Change: plan.Change(at); break;
            case Event::Lock: plan.Lock(); break;
            case Event::Unlock: plan.Unlock(at); break;
            case Event::Suspend: plan.Suspend(); break;
            case Event::Resume: plan.Resume(at); break;
            case Event::Busy: plan.Busy(at); break;
            case Event::PassStarting: plan.PassStarting(); break;
            }
        }
        EXPECT_EQ(plan.Due(), c.Due);
        if (c.Due) {
            EXPECT_FALSE(plan.PassDue(*c.Due - 1));
            EXPECT_TRUE(plan.PassDue(*c.Due));
        }
    }
}

// ---- The loop on the simulated desktop -----------------------------------

class WatchTest : public DesktopTest {
protected:
    WatchTest() { desktop.CommandLine = u"Tessel.exe -w"; }

    /// A window of another program off the right edge.
    WindowHandle AddOffScreen(std::u16string className = u"AppWindow") {
        return desktop.AddWindow({.ClassName = std::move(className), .Title = u"app", .Frame = {1800, 100, 2200, 500}});
    }

    void AddOtherWatcher(bool answers) {
        desktop.AddOtherWatcher(WatcherClassName, WatcherWindowName, WatcherMutexName, answers, OtherProcess);
    }

    /// The watcher's own window, whichever the desktop still has.
    bool OwnWindowLeft() const {
        for (const SimWindow& window : desktop.Windows)
            if (window.ClassName == WatcherClassName && window.ProcessId != OtherProcess) return true;
        return false;
    }

    bool InsideWorkArea(WindowHandle window) {
        const Rect r = desktop.Window(window).WindowRect();
        const Rect& work = desktop.Monitors[0].Work;
        return r.Left >= work.Left && r.Top >= work.Top && r.Right <= work.Right && r.Bottom <= work.Bottom;
    }

    /// Nothing of the watcher is left: its window, timer, notification and mutex.
    void ExpectAllReleased() {
        EXPECT_FALSE(OwnWindowLeft());
        EXPECT_TRUE(desktop.Timers.empty());
        EXPECT_TRUE(desktop.SessionNotifications.empty());
        EXPECT_TRUE(desktop.Mutexes.empty()) << "a mutex handle is left open";
        EXPECT_TRUE(desktop.OwnedMutexes.empty()) << "the mutex is still owned";
    }

    static constexpr std::uint32_t OtherProcess = 0x4444;
};

struct LoopCase {
    const char* Name;
    std::vector<SimulatedDesktop::SimChange> Changes;
    std::vector<SimulatedDesktop::SimBusy> Busy;
    std::vector<std::uint64_t> Passes;  // the clock at each pass, the first one at the start
    int TimerWakeups;                   // how often the watcher's timer woke it
};

const LoopCase LoopCases[] = {
    {"without a change the first pass is the only one", {}, {}, {0}, 0},
    {"a display change makes a pass once the desktop has been still",
     {{1000, WM_DISPLAYCHANGE}}, {}, {0, 1000 + SettleMs}, 1},
    {"several changes in a row make one pass",
     {{1000, WM_DISPLAYCHANGE}, {2000, WM_DISPLAYCHANGE}, {4500, WM_SETTINGCHANGE, SPI_SETWORKAREA}},
     {}, {0, 4500 + SettleMs}, 1},
    {"changes apart make a pass each",
     {{1000, WM_DISPLAYCHANGE}, {60000, WM_DISPLAYCHANGE}}, {}, {0, 1000 + SettleMs, 60000 + SettleMs}, 2},
    {"a work-area change makes a pass", {{1000, WM_SETTINGCHANGE, SPI_SETWORKAREA}}, {}, {0, 1000 + SettleMs}, 1},
    {"another setting wakes nothing", {{1000, WM_SETTINGCHANGE, 0x0014}}, {}, {0}, 0},
    {"a lock defers the pass until the unlock",
     {{1000, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK}, {2000, WM_DISPLAYCHANGE},
      {600000, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK}},
     {}, {0, 600000 + SettleMs}, 1},
    {"an unlock alone makes a pass", {{5000, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK}}, {}, {0, 5000 + SettleMs}, 1},
    {"another session change wakes nothing", {{1000, WM_WTSSESSION_CHANGE, 0x1}}, {}, {0}, 0},
    {"sleep defers the pass until the resume; both resume notices make one",
     {{1000, WM_POWERBROADCAST, PBT_APMSUSPEND}, {1500, WM_DISPLAYCHANGE},
      {900000, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC}, {900400, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND}},
     {}, {0, 900400 + SettleMs}, 1},
    {"another power notice wakes nothing", {{1000, WM_POWERBROADCAST, 0xA}}, {}, {0}, 0},
    {"a full-screen program defers the pass until it ends",
     {{1000, WM_DISPLAYCHANGE}}, {{0, 9000, QUNS_RUNNING_D3D_FULL_SCREEN}},
     {0, 1000 + SettleMs + 3 * BusyRecheckMs}, 4},
    {"a presentation defers the pass", {{1000, WM_DISPLAYCHANGE}}, {{0, 5000, QUNS_PRESENTATION_MODE}},
     {0, 1000 + SettleMs + BusyRecheckMs}, 2},
    {"a busy user defers the pass", {{1000, WM_DISPLAYCHANGE}}, {{0, 5000, QUNS_BUSY}},
     {0, 1000 + SettleMs + BusyRecheckMs}, 2},
    {"a busy state before the change costs nothing", {{10000, WM_DISPLAYCHANGE}}, {{0, 5000, QUNS_BUSY}},
     {0, 10000 + SettleMs}, 1},
};

TEST_F(WatchTest, MakesOnePassPerSettledChangeAndWakesForNothingElse) {
    for (const LoopCase& c : LoopCases) {
        SCOPED_TRACE(c.Name);
        SimulatedDesktop fresh;
        fresh.Monitors = desktop.Monitors;
        fresh.CommandLine = u"Tessel.exe -w";
        ScopedPlatform freshScope(fresh);
        for (const auto& change : c.Changes) fresh.PostChange(change);
        fresh.BusyTimes = c.Busy;
        MainBlock();
        EXPECT_EQ(fresh.PassTimes, c.Passes);
        // Without polling, an idle watcher has no timer to wake it: the
        // session's end finds it waiting for a message, so the loop ends here.
        EXPECT_EQ(fresh.TimerMessages, c.TimerWakeups);
        EXPECT_TRUE(fresh.Timers.empty());
    }
}

TEST_F(WatchTest, EachPassIsAPlainRunsPassAndLeavesItsOwnWindowAlone) {
    const WindowHandle app = AddOffScreen();
    desktop.PostChange({5000, WM_DISPLAYCHANGE, 0, 0, [&] { desktop.Window(app).Frame = {-300, 100, 100, 500}; }});
    MainBlock();
    ASSERT_EQ(desktop.PassTimes, (std::vector<std::uint64_t>{0, 5000 + SettleMs}));
    std::vector<SimMove> moves;
    for (const SimMove& move : desktop.Moves) {
        EXPECT_EQ(move.Window, app) << "only the other program's window is moved";
        moves.push_back(move);
    }
    ASSERT_EQ(moves.size(), 2u) << "one move at the start, one after the change";
    EXPECT_EQ(moves[1].X, 0) << "brought back from the left edge";
    EXPECT_TRUE(InsideWorkArea(app));
    EXPECT_EQ(TargetProcessId, 0u);
    ExpectAllReleased();
}

TEST_F(WatchTest, ClosingItsWindowEndsTheWatcher) {
    desktop.PostChange({1000, WM_DISPLAYCHANGE});
    desktop.PostChange({2000, WM_CLOSE});
    MainBlock();
    EXPECT_EQ(desktop.PassTimes, (std::vector<std::uint64_t>{0})) << "the pending pass goes with the watcher";
    ExpectAllReleased();
}

// ---- One watcher per session ---------------------------------------------

enum class Other { None, Answers, Silent };

struct HandshakeCase {
    const char16_t* CommandLine;
    Other Running;
    bool Fails;   // EWatchError: the running watcher did not end
    int Passes;
};

const HandshakeCase HandshakeCases[] = {
    {u"Tessel.exe -q", Other::None, false, 0},
    {u"Tessel.exe /Q", Other::Answers, false, 0},
    {u"Tessel.exe -q", Other::Silent, true, 0},
    {u"Tessel.exe -w", Other::None, false, 1},
    {u"Tessel.exe /W", Other::Answers, false, 1},
    {u"Tessel.exe -w", Other::Silent, true, 0},
};

TEST_F(WatchTest, AStartEndsTheRunningWatcherWithinABound) {
    for (const HandshakeCase& c : HandshakeCases) {
        SCOPED_TRACE(Narrow(c.CommandLine) + (c.Running == Other::None ? " alone" : c.Running == Other::Answers ? " beside a watcher" : " beside a silent watcher"));
        SimulatedDesktop fresh;
        fresh.Monitors = desktop.Monitors;
        fresh.CommandLine = c.CommandLine;
        ScopedPlatform freshScope(fresh);
        if (c.Running != Other::None)
            fresh.AddOtherWatcher(WatcherClassName, WatcherWindowName, WatcherMutexName, c.Running == Other::Answers,
                                  OtherProcess);
        const WindowHandle other = fresh.OtherWatcher ? fresh.OtherWatcher->Window : 0;
        if (c.Fails) {
            try {
                MainBlock();
                ADD_FAILURE() << "the start did not fail";
            } catch (const EWatchError& error) {
                EXPECT_EQ(error.Message(), u"実行中の監視（プロセス 17476）が 10 秒以内に終了しません");
            }
            EXPECT_GE(fresh.Clock, WatcherEndTimeoutMs);
            EXPECT_LT(fresh.Clock, WatcherEndTimeoutMs + 1000) << "the wait is bounded";
        } else {
            MainBlock();
        }
        int closes = 0;
        for (const Msg& posted : fresh.Posted) closes += posted.hwnd == other && posted.message == WM_CLOSE;
        EXPECT_EQ(closes, c.Running == Other::None ? 0 : 1) << "the running watcher is asked once";
        EXPECT_EQ(fresh.OtherWatcher.has_value(), c.Running == Other::Silent);
        EXPECT_EQ(fresh.Enumerations, c.Passes);
        EXPECT_TRUE(fresh.Mutexes.empty());
        EXPECT_TRUE(fresh.OwnedMutexes.empty());
    }
}

// ---- Command lines that cannot be carried out, and failures --------------

struct ConflictCase {
    const char16_t* Tail;
    const char16_t* Message;
};

const ConflictCase ConflictCases[] = {
    {u"-w app.exe", u"オプション -w はプログラム 'app.exe' と同時には指定できません"},
    {u"app.exe /W", u"オプション /W はプログラム 'app.exe' と同時には指定できません"},
    {u"-w -l", u"オプション -w と -l は同時には指定できません"},
    {u"-L /w", u"オプション /w と -L は同時には指定できません"},
    {u"-w -q", u"オプション -w と -q は同時には指定できません"},
    {u"-q -w -l app.exe", u"オプション -w と -q は同時には指定できません"},
    {u"-q -l", u"オプション -q と -l は同時には指定できません"},
    {u"-q app.exe", u"オプション -q はプログラム 'app.exe' と同時には指定できません"},
    // Reported before any rules file is read, whatever else is wrong.
    {u"-e missing.txt -w app.exe", u"オプション -w はプログラム 'app.exe' と同時には指定できません"},
};

TEST_F(WatchTest, ConflictingOptionsAreReportedAndNothingIsDone) {
    AddOffScreen();
    desktop.Programs[u"app.exe"] = {LaunchResult::Success, 11, {}};
    for (const ConflictCase& c : ConflictCases) {
        SCOPED_TRACE(Narrow(c.Tail));
        desktop.CommandLine = std::u16string(u"Tessel.exe ") + c.Tail;
        try {
            MainBlock();
            ADD_FAILURE() << "no failure";
        } catch (const EArgumentException& error) {
            EXPECT_EQ(error.Message(), c.Message);
        }
        EXPECT_EQ(desktop.Enumerations, 0);
        EXPECT_TRUE(desktop.Launches.empty());
        EXPECT_TRUE(desktop.Moves.empty());
        EXPECT_TRUE(desktop.Mutexes.empty());
        EXPECT_FALSE(OwnWindowLeft());
    }
}

TEST_F(WatchTest, AFailureInALaterPassEndsTheWatcherWithTheReportAndExitCodeOne) {
    TempFiles files;
    const std::u16string rules = files.WriteText("rules.txt", "[abc=Special\r\n");
    desktop.CommandLine = u"Tessel.exe -w -e " + rules;
    const WindowHandle moved = AddOffScreen();
    // The faulty rule is met only once a window of its class appears.
    desktop.PostChange({1000, WM_DISPLAYCHANGE, 0, 0, [&] { AddOffScreen(u"Special"); }});
    desktop.PostChange({8000, WM_DISPLAYCHANGE});
    std::uint32_t exitCode = 99;
    try {
        RunUnderTopLevelHandler(&MainBlock);
    } catch (const SimProcessExit& exit) {
        exitCode = exit.ExitCode;
    }
    EXPECT_EQ(exitCode, 1u);
    EXPECT_EQ(desktop.PassTimes, (std::vector<std::uint64_t>{0, 1000 + SettleMs})) << "no pass after the failure";
    ASSERT_EQ(desktop.MessageBoxes.size(), 1u);
    EXPECT_NE(desktop.MessageBoxes[0].Text.find(u"EMaskException"), std::u16string::npos)
        << Narrow(desktop.MessageBoxes[0].Text);
    EXPECT_TRUE(InsideWorkArea(moved)) << "moves before the failure stay";
    ExpectAllReleased();
}

TEST_F(WatchTest, RulesAreReadOnceBeforeTheWatcherStarts) {
    TempFiles files;
    const std::u16string rules = files.WriteText("rules.txt", "app=AppWindow\r\n");
    desktop.CommandLine = u"Tessel.exe -e " + rules + u" -w";
    const WindowHandle exempt = AddOffScreen();
    // Edited rules take effect only through a new start.
    desktop.PostChange({1000, WM_DISPLAYCHANGE, 0, 0, [&] { files.WriteText("rules.txt", "x=y\r\n"); }});
    MainBlock();
    EXPECT_EQ(desktop.PassTimes.size(), 2u);
    EXPECT_TRUE(desktop.Moves.empty());
    EXPECT_EQ(desktop.Window(exempt).Frame, (Rect{1800, 100, 2200, 500}));

    desktop.CommandLine = u"Tessel.exe -w -e missing-rules.txt";
    desktop.PassTimes.clear();
    EXPECT_THROW(MainBlock(), EFOpenError);
    EXPECT_TRUE(desktop.PassTimes.empty());
    ExpectAllReleased();
}

TEST_F(WatchTest, ASessionLibraryThatCannotBeLoadedEndsTheStart) {
    desktop.WtsMissing = true;
    AddOffScreen();
    EXPECT_THROW(MainBlock(), EExternalException);
    EXPECT_TRUE(desktop.Moves.empty());
    ExpectAllReleased();
}

}  // namespace
}  // namespace tessel
