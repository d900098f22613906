#include "runtime/top_level_handler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "main/tessel.h"
#include "rules/string_list.h"
#include "runtime/report_fixture.h"

namespace tessel {
namespace {

// What the main blocks of these tests saw, kept where a plain function
// pointer can reach it.
std::vector<std::string> Events;

struct Cleanup {
    const char* Name;
    ~Cleanup() { Events.push_back(std::string("cleanup ") + Name); }
};

[[gnu::noinline]] void RaiseInvalidMask() {
    Cleanup inner{"inner"};
    Raise<EMaskException>(u"1 番目の文字（'['）は正しくないマスク文字です");
}

void MainBlockThatFails() {
    Cleanup outer{"outer"};
    RaiseInvalidMask();
}

class TopLevelHandlerTest : public MemoryMapTest {
protected:
    TopLevelHandlerTest() {
        Events.clear();
        desktop.OnMessageBox = [this] {
            Events.push_back("box");
            // The exit steps come after the box: the failure hooks are still in force.
            hooksDuringBox = std::get_terminate() != previousTerminate;
            rulesDuringBox = ExclusionRules != nullptr;
        };
        previousTerminate = std::get_terminate();
    }

    /// Runs the whole run; answers the exit code it ended the process with.
    std::uint32_t Run(void (*mainBlock)()) {
        try {
            RunUnderTopLevelHandler(mainBlock);
        } catch (const SimProcessExit& exit) {
            Events.push_back("exit " + std::to_string(exit.ExitCode));
            return exit.ExitCode;
        }
        ADD_FAILURE() << "the run did not end the process";
        return 99;
    }

    std::u16string OnlyBoxText() {
        if (desktop.MessageBoxes.size() != 1) {
            ADD_FAILURE() << desktop.MessageBoxes.size() << " message boxes, wanted one";
            return u"";
        }
        EXPECT_EQ(desktop.MessageBoxes[0].Caption, u"アプリケーションエラー");
        EXPECT_EQ(desktop.MessageBoxes[0].Style, 0x2010u);
        return desktop.MessageBoxes[0].Text;
    }

    /// The box names the class and, for a raise in this program, the executable.
    void ExpectFirstLine(const std::u16string& text, const std::u16string& className) {
        EXPECT_TRUE(text.starts_with(className + u" がモジュール Tessel.exe の ")) << Narrow(text);
    }

    std::terminate_handler previousTerminate;
    bool hooksDuringBox = false;
    bool rulesDuringBox = true;
};

TEST_F(TopLevelHandlerTest, NormalRunShowsNothingAndEndsWithZero) {
    EXPECT_EQ(Run([] { Events.push_back("main block"); }), 0u);
    EXPECT_TRUE(desktop.MessageBoxes.empty());
    EXPECT_TRUE(desktop.FilteredFailures.empty());
    EXPECT_EQ(Events, (std::vector<std::string>{"main block", "exit 0"}));
    EXPECT_EQ(std::get_terminate(), previousTerminate) << "the exit steps take the failure hooks back";
}

TEST_F(TopLevelHandlerTest, FailureIsReportedAfterEveryCleanupAndBeforeTheExitSteps) {
    EXPECT_EQ(Run(&MainBlockThatFails), 1u);
    EXPECT_EQ(Events, (std::vector<std::string>{"cleanup inner", "cleanup outer", "box", "exit 1"}));
    EXPECT_TRUE(hooksDuringBox);
    EXPECT_EQ(std::get_terminate(), previousTerminate);
    EXPECT_EQ(desktop.FilteredFailures, std::vector<std::uint32_t>{CxxExceptionCode}) << "the filter is asked first";
    const std::u16string text = OnlyBoxText();
    ExpectFirstLine(text, u"EMaskException");
    EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n"))), Narrow(u"\r\n1 番目の文字（'['）は正しくないマスク文字です.\r\n"));
}

// The filter's answer plays the attached debugger; with a real one attached
// the suite cannot run, so no end-to-end test covers this case.
TEST_F(TopLevelHandlerTest, FailureUnderADebuggerIsLeftToThePlatform) {
    desktop.FilterAnswer = 0;  // EXCEPTION_CONTINUE_SEARCH
    EXPECT_THROW(RunUnderTopLevelHandler(&MainBlockThatFails), EMaskException);
    EXPECT_TRUE(desktop.MessageBoxes.empty());
    EXPECT_FALSE(desktop.ExitCode.has_value());
    EXPECT_EQ(desktop.FilteredFailures.size(), 1u);
}

TEST_F(TopLevelHandlerTest, PlatformExceptionIsReportedAsItsMappedClass) {
    const auto fault = [] {
        Cleanup pending{"pending"};
        ExceptionRecord record{.ExceptionCode = 0xC0000005, .ExceptionAddress = Address(0x00401A2B),
                               .NumberParameters = 2};
        record.ExceptionInformation[1] = 0x10;
        SimRaisePlatformException(record);
    };
    EXPECT_EQ(Run(fault), 1u);
    EXPECT_EQ(Events, (std::vector<std::string>{"cleanup pending", "box", "exit 1"}));
    EXPECT_EQ(desktop.FilteredFailures, std::vector<std::uint32_t>{0xC0000005});
    EXPECT_EQ(Narrow(OnlyBoxText()),
              Narrow(u"EAccessViolation がモジュール Tessel.exe の 00001A2B で発生しました。\r\n"
                     u"モジュール 'Tessel.exe' のアドレス 00401A2B でアドレス 00000010 に対する読み取り違反がおきました。.\r\n"));
}

TEST_F(TopLevelHandlerTest, FailureOfferedWhileOneUnwindsEndsTheRunWithTheFirstReport) {
    // As the dispatch would offer a fault met in a cleanup that runs for the
    // taken failure.
    const auto twoFailures = [] {
        ExceptionRecord first{.ExceptionCode = 0xC0000094, .ExceptionAddress = Address(0x00401100)};
        ExceptionRecord second{.ExceptionCode = 0xC0000005, .ExceptionAddress = Address(0x00401200)};
        ExceptionPointers offer{&first, nullptr};
        if (!TopLevelExceptionHandler(&offer)) return;
        offer.ExceptionRecord = &second;
        TopLevelExceptionHandler(&offer);
        Events.push_back("not ended");
    };
    EXPECT_EQ(Run(twoFailures), 1u);
    EXPECT_EQ(Narrow(OnlyBoxText()),
              Narrow(u"EDivByZero がモジュール Tessel.exe の 00001100 で発生しました。\r\nゼロによる除算.\r\n"));
    EXPECT_EQ(desktop.FilteredFailures, std::vector<std::uint32_t>{0xC0000094}) << "the second is not offered";
}

TEST_F(TopLevelHandlerTest, CxxExceptionTheSystemDidNotRaiseIsAnExternalException) {
    EXPECT_EQ(Run([] { throw EMaskException(u"thrown, not raised"); }), 1u);
    const std::u16string text = OnlyBoxText();
    EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n"))), Narrow(u"\r\n外部例外 20474343.\r\n"));
}

// The block escapes through a volatile pointer: a new-expression whose
// block is deleted unused may be left out by the optimiser, failure and all.
char* volatile EscapedBlock = nullptr;

[[gnu::noinline]] void MainBlockOutOfMemory() {
    Cleanup pending{"pending"};
    volatile std::size_t size = static_cast<std::size_t>(-1) / 4;
    EscapedBlock = new char[size];
    Events.push_back(EscapedBlock == nullptr ? "null" : "allocated");
    delete[] EscapedBlock;
}

TEST_F(TopLevelHandlerTest, MemoryExhaustionRaisesTheOneOutOfMemoryObject) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer ends the process on an allocation this large";
#endif
    EXPECT_EQ(Run(&MainBlockOutOfMemory), 1u);
    EXPECT_EQ(Events, (std::vector<std::string>{"cleanup pending", "box", "exit 1"}));
    const std::u16string text = OnlyBoxText();
    ExpectFirstLine(text, u"EOutOfMemory");
    EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n"))), Narrow(u"\r\nメモリが足りません.\r\n"));
    // Raised at the return address of the request, inside the main block.
    ASSERT_TRUE(FailureInFlight.has_value());
    const auto at = reinterpret_cast<std::uintptr_t>(FailureInFlight->RaiseAddress());
    const auto begin = reinterpret_cast<std::uintptr_t>(&MainBlockOutOfMemory);
    EXPECT_GT(at, begin);
    EXPECT_LT(at, begin + 0x400);

    // Once the exit steps have run, the standard failure is back.
    volatile std::size_t size = static_cast<std::size_t>(-1) / 4;
    EXPECT_THROW(EscapedBlock = new char[size], std::bad_alloc);
}

// The main block of the program on a desktop whose rules file is missing, or
// whose desktop window manager cannot be loaded.
class MainBlockFailureTest : public TopLevelHandlerTest {
protected:
    std::u16string RulesFile(const std::string& name, const std::string& lines) {
        return files.WriteText(name, lines);
    }

    WindowHandle Window(std::u16string className, Rect frame) {
        SimWindow window;
        window.ClassName = std::move(className);
        window.Title = u"w";
        window.Frame = frame;
        return desktop.AddWindow(window);
    }

    TempFiles files;
};

TEST_F(MainBlockFailureTest, MissingRulesFileIsReportedAfterTheRulesAreReleased) {
    desktop.CommandLine = u"Tessel.exe -e " + RulesFile("good.txt", "a=b") + u" -e /no/such/rules.txt";
    EXPECT_EQ(Run(&MainBlock), 1u);
    EXPECT_FALSE(rulesDuringBox);
    const std::u16string text = OnlyBoxText();
    ExpectFirstLine(text, u"EFOpenError");
    // The message ends with a space, and the full stop follows it.
    EXPECT_TRUE(text.ends_with(u"。 .\r\n")) << Narrow(text);
}

TEST_F(MainBlockFailureTest, InvalidMaskMetInAPassLeavesEarlierMovesInPlace) {
    // The title mask is tested only for a window whose class matches.
    desktop.CommandLine = u"Tessel.exe -e " + RulesFile("rules.txt", "[abc=Special");
    const WindowHandle first = Window(u"Plain", {1800, 100, 2200, 500});
    Window(u"Special", {1800, 600, 2200, 900});
    const WindowHandle later = Window(u"Plain", {1800, 600, 2200, 900});
    EXPECT_EQ(Run(&MainBlock), 1u);
    ASSERT_EQ(desktop.Moves.size(), 1u);
    EXPECT_EQ(desktop.Moves[0].Window, first);
    EXPECT_NE(desktop.Moves[0].Window, later);
    const std::u16string text = OnlyBoxText();
    ExpectFirstLine(text, u"EMaskException");
    EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n"))),
              Narrow(u"\r\n5 番目の文字（'[abc'）は正しくないマスク文字です.\r\n"));
}

TEST_F(MainBlockFailureTest, DesktopWindowManagerThatCannotBeLoadedIsAnExternalException) {
    struct Case {
        const char* Why;
        bool ModuleMissing;
        const char16_t* SecondLine;
    };
    const Case cases[] = {
        {"module not found", true, u"\r\n外部例外 C06D007E.\r\n"},
        {"function not found", false, u"\r\n外部例外 C06D007F.\r\n"},
    };
    for (const Case& c : cases) {
        desktop.MessageBoxes.clear();
        desktop.DwmModuleMissing = c.ModuleMissing;
        desktop.DwmFunctionMissing = !c.ModuleMissing;
        desktop.Windows.clear();
        Window(u"Plain", {1800, 100, 2200, 500});
        EXPECT_EQ(Run(&MainBlock), 1u) << c.Why;
        const std::u16string text = OnlyBoxText();
        ExpectFirstLine(text, u"EExternalException");
        EXPECT_EQ(Narrow(text.substr(text.find(u"\r\n"))), Narrow(c.SecondLine)) << c.Why;
        EXPECT_TRUE(desktop.Moves.empty()) << c.Why;
    }
}

}  // namespace
}  // namespace tessel
