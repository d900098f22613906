#include "main/tessel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "main/window_pass.h"
#include "rules/string_list.h"
#include "runtime/exception.h"

namespace tessel {
namespace {

constexpr std::uint32_t OtherProcess = 99;

SimWindow OffScreen(std::u16string title) {
    SimWindow window;
    window.ClassName = u"AppWindow";
    window.Title = std::move(title);
    window.Frame = {1800, 100, 2200, 500};
    return window;
}

// A desktop with one off-screen window of a process that was not launched,
// and programs that launch with a handle, without one, or not at all.
struct Driver {
    Driver() {
        desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}});
        SimWindow other = OffScreen(u"other");
        other.ProcessId = OtherProcess;
        desktop.AddWindow(other);
        desktop.Programs[u"app1.exe"] = {LaunchResult::Success, 11, {OffScreen(u"app1")}};
        desktop.Programs[u"C:\\Apps\\app2.exe"] = {LaunchResult::Success, 12, {OffScreen(u"app2")}};
        desktop.Programs[u"nohandle.exe"] = {LaunchResult::NoHandle, 13, {OffScreen(u"nohandle")}};
        desktop.Programs[u"missing.exe"] = {LaunchResult::Failure, 0, {}};
        rulesPath = files.WriteText("rules.txt", "A=B\r\nC=D\r\n");
    }

    /// Runs the driver on a command line whose $R stands for the rules file.
    void Run(std::u16string tail) {
        for (std::size_t at = tail.find(u"$R"); at != std::u16string::npos; at = tail.find(u"$R"))
            tail.replace(at, 2, rulesPath);
        desktop.CommandLine = u"Tessel.exe " + tail;
        RunDriver();
    }

    std::vector<std::u16string> LaunchedFiles() const {
        std::vector<std::u16string> launched;
        for (const SimLaunch& launch : desktop.Launches) launched.push_back(launch.File);
        return launched;
    }

    /// The titles of the windows that were moved, in the order of their first move.
    std::vector<std::u16string> MovedTitles() {
        std::vector<std::u16string> titles;
        std::vector<WindowHandle> seen;
        for (const SimMove& move : desktop.Moves) {
            if (std::find(seen.begin(), seen.end(), move.Window) != seen.end()) continue;
            seen.push_back(move.Window);
            titles.push_back(desktop.Window(move.Window).Title);
        }
        return titles;
    }

    /// The passes made: enumerations that offer each window to PlaceWindow,
    /// not the follow-up's looks at the desktop.
    long Passes() const {
        return std::count(desktop.EnumerationCallbacks.begin(), desktop.EnumerationCallbacks.end(), &PlaceWindow);
    }

    std::vector<std::u16string> Rules() const {
        std::vector<std::u16string> rules;
        for (int i = 0; i < ExclusionRules->Count(); ++i) rules.push_back(ExclusionRules->Strings(i));
        return rules;
    }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
    TempFiles files;
    RunRules runRules;
    std::u16string rulesPath;
};

struct DriverCase {
    const char16_t* Tail;
    std::vector<std::u16string> Launched;
    int Passes;
    std::vector<std::u16string> Moved;
    int RulesFiles;  // how many copies of the file's two rules follow the built-in rule
};

const DriverCase DriverCases[] = {
    {u"", {}, 1, {u"other"}, 0},
    {u"-e $R", {}, 1, {u"other"}, 1},
    {u"-E $R", {}, 1, {u"other"}, 1},
    {u"/e $R", {}, 1, {u"other"}, 1},
    {u"/E $R", {}, 1, {u"other"}, 1},
    {u"-e $R -E $R", {}, 1, {u"other"}, 2},
    {u"-x app1.exe", {u"app1.exe"}, 1, {u"app1"}, 0},
    {u"-ex /help", {u"-ex", u"/help"}, 0, {}, 0},
    {u"app1.exe -e $R C:\\Apps\\app2.exe", {u"app1.exe", u"C:\\Apps\\app2.exe"}, 2, {u"app1", u"app2"}, 1},
    {u"app1.exe app1.exe", {u"app1.exe", u"app1.exe"}, 2, {u"app1", u"app1"}, 0},
    {u"missing.exe app1.exe", {u"missing.exe", u"app1.exe"}, 1, {u"app1"}, 0},
    {u"missing.exe missing.exe", {u"missing.exe", u"missing.exe"}, 0, {}, 0},
    {u"nohandle.exe", {u"nohandle.exe"}, 1, {u"other", u"nohandle"}, 0},
    {u"\"open end -e $R", {u"open end -e $R"}, 0, {}, 0},
};

TEST(Driver, ScansOptionsThenLaunchesAndPassesInOrder) {
    for (const DriverCase& c : DriverCases) {
        SCOPED_TRACE(Narrow(c.Tail));
        Driver fresh;
        fresh.Run(c.Tail);
        std::vector<std::u16string> launched = c.Launched;
        for (std::u16string& file : launched)
            if (const auto at = file.find(u"$R"); at != std::u16string::npos) file.replace(at, 2, fresh.rulesPath);
        EXPECT_EQ(fresh.LaunchedFiles(), launched);
        EXPECT_EQ(fresh.Passes(), c.Passes);
        EXPECT_EQ(fresh.MovedTitles(), c.Moved);
        std::vector<std::u16string> rules(std::begin(BuiltInRules), std::end(BuiltInRules));
        for (int i = 0; i < c.RulesFiles; ++i) rules.insert(rules.end(), {u"A=B", u"C=D"});
        EXPECT_EQ(fresh.Rules(), rules);
    }
}

TEST(Driver, FillsTheLaunchRecordForTheShell) {
    Driver world;
    SimulatedDesktop& desktop = world.desktop;
    world.Run(u"C:\\Apps\\app2.exe app1.exe");
    ASSERT_EQ(desktop.Launches.size(), 2u);
    const struct {
        const char16_t* Directory;
    } expected[] = {{u"C:\\Apps\\"}, {u""}};
    for (std::size_t i = 0; i < 2; ++i) {
        const SimLaunch& launch = desktop.Launches[i];
        EXPECT_EQ(launch.Info.cbSize, ShellExecuteInfoSize);
        EXPECT_EQ(launch.Info.fMask, SEE_MASK_NOCLOSEPROCESS);
        EXPECT_EQ(launch.Info.hwnd, 0u);
        EXPECT_EQ(launch.Verb, u"open");
        EXPECT_EQ(launch.Info.lpParameters, nullptr);
        EXPECT_FALSE(launch.DirectoryIsNull) << "an empty directory is an empty text, not a null pointer";
        EXPECT_EQ(launch.Directory, expected[i].Directory);
        EXPECT_EQ(launch.Info.nShow, SW_SHOW);
        EXPECT_EQ(launch.Info.lpClass, nullptr);
    }
}

TEST(Driver, WaitsForEachLaunchAndClosesItsHandleAfterThePass) {
    Driver world;
    SimulatedDesktop& desktop = world.desktop;
    world.Run(u"app1.exe nohandle.exe missing.exe");
    ASSERT_EQ(desktop.Waits.size(), 2u);
    EXPECT_NE(desktop.Waits[0], 0u);
    EXPECT_EQ(desktop.Waits[1], 0u) << "a launch without a handle still waits, on the null handle";
    // The follow-up closes its snapshots too; the launch handles come in order.
    std::vector<std::uintptr_t> launchHandles = desktop.ClosedHandles;
    std::erase_if(launchHandles, [&](std::uintptr_t h) {
        return std::find(desktop.Waits.begin(), desktop.Waits.end(), h) == desktop.Waits.end();
    });
    EXPECT_EQ(launchHandles, desktop.Waits);
    EXPECT_EQ(desktop.OpenHandles(), 0u);
    EXPECT_EQ(TargetProcessId, 0u) << "the pass after a launch without a handle treats every process";
}

TEST(Driver, LoadsEveryRulesFileBeforeTheFirstLaunch) {
    Driver world;
    SimulatedDesktop& desktop = world.desktop;
    // The second file does not exist: the run ends before any launch or pass,
    // and the rules of the first file stay where they were appended.
    EXPECT_THROW(world.Run(u"app1.exe -e $R -e does-not-exist.txt"), EFOpenError);
    EXPECT_TRUE(desktop.Launches.empty());
    EXPECT_EQ(desktop.Enumerations, 0);
    EXPECT_EQ(world.Rules(), (std::vector<std::u16string>{u"=Shell_*TrayWnd", u"*=Progman", u"*=WorkerW", u"A=B", u"C=D"}));
}

TEST(Driver, TrailingRulesOptionLoadsTheEmptyName) {
    for (const char16_t* tail : {u"-e", u"app1.exe -e", u"-e $R -e"}) {
        Driver fresh;
        EXPECT_THROW(fresh.Run(tail), EFOpenError) << Narrow(tail);
        EXPECT_TRUE(fresh.desktop.Launches.empty()) << Narrow(tail);
        EXPECT_EQ(fresh.desktop.Enumerations, 0) << Narrow(tail);
    }
}

TEST(Driver, RulesOptionTakesTheNextArgumentWhateverItLooksLike) {
    // "-x" is the file name here, not an ignored option; it does not exist.
    Driver world;
    EXPECT_THROW(world.Run(u"-e -x app1.exe"), EFOpenError);
    EXPECT_TRUE(world.desktop.Launches.empty());
}

// The shell may hand a launch to an extension that is a COM object; a plain
// run has nothing to launch and never loads COM.
TEST(Driver, COMIsInForceFromTheFirstLaunchToTheEndOfTheLast) {
    const struct {
        const char16_t* Tail;
        int Initialisations;
    } cases[] = {
        {u"", 0},
        {u"-e $R", 0},
        {u"app1.exe C:\\Apps\\app2.exe", 1},
        {u"missing.exe nohandle.exe", 1},
    };
    for (const auto& c : cases) {
        Driver fresh;
        fresh.Run(c.Tail);
        EXPECT_EQ(fresh.desktop.ComInitialisations, c.Initialisations) << Narrow(c.Tail);
        for (const SimLaunch& launch : fresh.desktop.Launches) EXPECT_EQ(launch.ComDepth, 1) << Narrow(c.Tail);
        EXPECT_EQ(fresh.desktop.ComDepth, 0) << Narrow(c.Tail);
        EXPECT_EQ(fresh.desktop.UnbalancedComReleases, 0) << Narrow(c.Tail);
    }
}

TEST(Driver, COMIsReleasedWhenAPassFailsAndKeptWhenTheThreadHadItInAnotherApartment) {
    Driver failing;
    failing.rulesPath = failing.files.WriteText("bad.txt", "[=AppWindow");
    EXPECT_THROW(failing.Run(u"-e $R app1.exe"), EMaskException);
    EXPECT_EQ(failing.desktop.ComDepth, 0);

    Driver other;
    other.desktop.ComInitialiseAnswer = static_cast<HResult>(0x80010106);  // RPC_E_CHANGED_MODE
    other.Run(u"app1.exe");
    EXPECT_EQ(other.desktop.UnbalancedComReleases, 0) << "an initialisation that failed is not balanced";
}

TEST(Driver, ARulesFileThatCannotBeReadEndsTheRunBeforeAnyLaunch) {
    Driver world;
    world.desktop.FileReadFailures[world.rulesPath] = 64;
    EXPECT_THROW(world.Run(u"-e $R app1.exe"), EReadError);
    EXPECT_TRUE(world.desktop.Launches.empty());
    EXPECT_EQ(world.desktop.Enumerations, 0);
    EXPECT_TRUE(world.desktop.Moves.empty());
}

class MainBlockTest : public DesktopTest {};

TEST_F(MainBlockTest, ReleasesTheRulesOnEveryPathOut) {
    desktop.CommandLine = u"Tessel.exe";
    MainBlock();
    EXPECT_EQ(ExclusionRules, nullptr);
    EXPECT_EQ(CompiledMasks, nullptr);
    EXPECT_EQ(VirtualDesktops, nullptr);
    EXPECT_EQ(desktop.Enumerations, 1);

    desktop.CommandLine = u"Tessel.exe -e";
    EXPECT_THROW(MainBlock(), EFOpenError);
    EXPECT_EQ(ExclusionRules, nullptr);
    EXPECT_EQ(CompiledMasks, nullptr);
}

TEST_F(MainBlockTest, TheBuiltInRulesLeaveTheTaskbarsAndTheDesktopAlone) {
    // The shell's desktop windows span every monitor.
    const Rect everyMonitor{-1280, 0, 3520, 1080};
    for (const auto& [className, title] : {std::pair{u"Shell_TrayWnd", u""}, std::pair{u"Progman", u"Program Manager"},
                                           std::pair{u"WorkerW", u""}})
        desktop.AddWindow({.ClassName = className, .Title = title, .Frame = everyMonitor});
    desktop.AddWindow(OffScreen(u"ordinary"));
    desktop.CommandLine = u"Tessel.exe";
    MainBlock();
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Window(desktop.Moves[0].Window).Title, u"ordinary");
}

}  // namespace
}  // namespace tessel
