#include "main/window_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "main/tessel.h"
#include "rules/string_list.h"
#include "runtime/exception.h"
#include "runtime/text_format.h"

namespace tessel {
namespace {

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? b : b & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::vector<std::u16string> Lines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
    return lines;
}

constexpr char16_t Header[] = u"handle\tprocess\tclass\ttitle\tframe\twork area\tdecision";

// The main block on a desktop whose standard output is a file.
class ListMode : public DesktopTest {
protected:
    ListMode() {
        desktop.StdOutputType = FILE_TYPE_DISK;
        rulesPath = files.WriteText("rules.txt", "Keep*=*\r\n");
    }

    WindowHandle Add(SimWindow window) {
        window.Margins = {};
        if (window.ClassName.empty()) window.ClassName = u"App";
        return desktop.AddWindow(window);
    }

    std::vector<std::u16string> Run(const std::u16string& arguments) {
        desktop.CommandLine = u"Tessel.exe " + arguments;
        MainBlock();
        return Lines(Utf16(desktop.StdOutput));
    }

    TempFiles files;
    std::u16string rulesPath;
};

TEST_F(ListMode, ListsEveryWindowWithItsDecisionAndMovesNothing) {
    desktop.Monitors.push_back({{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}});
    desktop.VirtualScreen = {0, 0, 3200, 1080};
    const struct {
        SimWindow Window;
        const char16_t* Line;  // after the handle
    } cases[] = {
        {{.ProcessId = 7, .Title = u"off", .Frame = {1700, 100, 2000, 400}},
         u"\t7\tApp\toff\t1700,100,2000,400\t0,0,1920,1040\twould move to 1620,100,1920,400"},
        {{.Title = u"inside", .Frame = {100, 100, 500, 500}},
         u"\t1\tApp\tinside\t100,100,500,500\t0,0,1920,1040\tinside"},
        {{.Title = u"Keep me", .Frame = {1800, 100, 2200, 500}},
         u"\t1\tApp\tKeep me\t-\t-\texempt by rule 4: Keep*=*"},
        {{.ClassName = u"WorkerW", .Frame = {1800, 100, 2200, 500}},
         u"\t1\tWorkerW\t\t-\t-\texempt by rule 3: *=WorkerW"},
        {{.Title = u"hidden", .Frame = {1800, 100, 2200, 500}, .Visible = false}, u"\t1\tApp\thidden\t-\t-\thidden"},
        {{.Title = u"min", .Frame = {1800, 100, 2200, 500}, .Iconic = true}, u"\t1\tApp\tmin\t-\t-\tminimised"},
        {{.Title = u"max", .Frame = {-8, -8, 1928, 1048}, .Zoomed = true}, u"\t1\tApp\tmax\t-\t-\tmaximised"},
        {{.Title = u"nowhere", .Frame = {1800, 100, 2200, 500}, .NoMonitor = true},
         u"\t1\tApp\tnowhere\t-\t-\tno monitor"},
        {{.Title = u"gone", .Frame = {1700, 100, 2000, 400}, .RectUnreadable = true},
         u"\t1\tApp\tgone\t-\t0,0,1920,1040\tno frame"},
        {{.Title = u"video", .Frame = {1920, 0, 3200, 1024}},
         u"\t1\tApp\tvideo\t1920,0,3200,1024\t1920,0,3200,1024\tfull screen"},
        {{.Title = u"bar", .Frame = {0, 1040, 1920, 1080}},
         u"\t1\tApp\tbar\t0,1040,1920,1080\t0,0,1920,1040\tdocked bar"},
        {{.Title = u"hung", .Frame = {1700, 100, 2000, 400}, .Hung = true},
         u"\t1\tApp\thung\t1700,100,2000,400\t0,0,1920,1040\tnot responding"},
        {{.Title = u"huge", .Frame = {-100, -100, 2100, 1200}},
         u"\t1\tApp\thuge\t-100,-100,2100,1200\t0,0,1920,1040\twould move to 0,0,1920,1040"},
    };
    std::vector<std::u16string> expected{Header};
    for (const auto& c : cases) {
        const WindowHandle handle = Add(c.Window);
        expected.push_back(FormatText(u"%p", {static_cast<std::int64_t>(handle)}) + c.Line);
    }
    const std::vector<std::u16string> lines = Run(u"-e " + rulesPath + u" -l");
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Narrow(lines[i]), Narrow(expected[i]));
    EXPECT_TRUE(desktop.Moves.empty());
    EXPECT_EQ(desktop.ConsoleAttaches, 0) << "standard output is a file";
}

TEST_F(ListMode, WritesTheLinesWhereTheyCanBeRead) {
    const struct {
        const char* Where;
        std::uint32_t StdOutputType;
        bool StdOutputIsConsole;
        bool ParentConsole;
        bool ToStdOutput, ToConsole;
    } cases[] = {
        {"a file", FILE_TYPE_DISK, false, true, true, false},
        {"a pipe", FILE_TYPE_PIPE, false, true, true, false},
        {"a console handed down", FILE_TYPE_CHAR, true, true, false, true},
        {"a device that is not a console (NUL)", FILE_TYPE_CHAR, false, true, true, false},
        {"no standard output, the parent's console", 0, false, true, false, true},
        {"neither", 0, false, false, false, false},
    };
    for (const auto& c : cases) {
        SimulatedDesktop fresh;
        ScopedPlatform freshScope(fresh);
        fresh.Monitors = desktop.Monitors;
        fresh.StdOutputType = c.StdOutputType;
        fresh.StdOutputIsConsole = c.StdOutputIsConsole;
        fresh.ParentConsole = c.ParentConsole;
        fresh.AddWindow({.ClassName = u"App", .Title = u"メモ帳\tタブ", .Frame = {100, 100, 500, 500}});
        fresh.CommandLine = u"Tessel.exe /L";
        MainBlock();
        const std::u16string shown = c.ToConsole ? fresh.ConsoleOutput : Utf16(fresh.StdOutput);
        EXPECT_EQ(!fresh.StdOutput.empty(), c.ToStdOutput) << c.Where;
        EXPECT_EQ(!fresh.ConsoleOutput.empty(), c.ToConsole) << c.Where;
        if (c.ToStdOutput || c.ToConsole) {
            const std::vector<std::u16string> lines = Lines(shown);
            ASSERT_EQ(lines.size(), 2u) << c.Where;
            EXPECT_NE(lines[1].find(u"\tメモ帳\\tタブ\t"), std::u16string::npos) << c.Where;
        }
        if (c.ToConsole) {
            EXPECT_EQ(fresh.ClosedHandles.size(), 1u) << "the console handle is closed, " << c.Where;
        }
    }
}

TEST_F(ListMode, WithoutTheOptionNothingIsWrittenAndNoConsoleAttached) {
    desktop.ParentConsole = true;
    for (const char16_t* arguments : {u"", u"-x", u"/?", u"-e -l"}) {
        desktop.Windows.clear();
        desktop.Moves.clear();
        Add({.Frame = {1800, 100, 2200, 500}});
        desktop.CommandLine = std::u16string(u"Tessel.exe ") + arguments;
        if (std::u16string_view(arguments) == u"-e -l") {
            EXPECT_THROW(MainBlock(), EFOpenError) << "-l is the rules file's name here";
        } else {
            MainBlock();
            EXPECT_EQ(desktop.Moves.size(), 1u) << Narrow(arguments);
        }
    }
    EXPECT_TRUE(desktop.StdOutput.empty());
    EXPECT_EQ(desktop.ConsoleAttaches, 0);
}

TEST_F(ListMode, InLaunchModeListsOnlyTheLaunchedProgramsWindows) {
    Add({.ProcessId = 99, .Title = u"bystander", .Frame = {1800, 100, 2200, 500}});
    desktop.Programs[u"app.exe"] = {LaunchResult::Success, 11, {{.ClassName = u"App", .Title = u"launched"}}};
    const std::vector<std::u16string> lines = Run(u"-l app.exe");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(u"\t11\tApp\tlaunched\t"), std::u16string::npos);
    EXPECT_TRUE(desktop.Moves.empty());
}

TEST_F(ListMode, AFailureKeepsTheLinesWrittenBeforeIt) {
    rulesPath = files.WriteText("bad.txt", "[abc=Special\r\n");
    Add({.Title = u"met first", .Frame = {1800, 100, 2200, 500}});
    Add({.ClassName = u"Special", .Title = u"fails", .Frame = {1800, 100, 2200, 500}});
    desktop.CommandLine = u"Tessel.exe -l -e " + rulesPath;
    EXPECT_THROW(MainBlock(), EMaskException);
    const std::vector<std::u16string> lines = Lines(Utf16(desktop.StdOutput));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(u"\tmet first\t"), std::u16string::npos);
}

TEST_F(ListMode, AnOutputThatFailsEndsTheListNotTheRun) {
    desktop.StdOutputFails = true;
    Add({.Title = u"listed", .Frame = {1800, 100, 2200, 500}});
    const std::vector<std::u16string> lines = Run(u"-l");
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(desktop.Moves.empty());
}

TEST(EscapeListField, KeepsOneWindowOnOneLine) {
    const struct {
        std::u16string Text, Escaped;
    } cases[] = {
        {u"plain", u"plain"},
        {u"a\tb", u"a\\tb"},
        {u"a\r\nb", u"a\\r\\nb"},
        {u"C:\\dir", u"C:\\\\dir"},
        {std::u16string(u"nul\0bell\a", 9), u"nul\\x00bell\\x07"},
        {u"del\x7F c1\x85", u"del\\x7F c1\\x85"},
        {u"メモ帳 – 無題", u"メモ帳 – 無題"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeListField(c.Text), c.Escaped) << Narrow(c.Text);
}

}  // namespace
}  // namespace tessel
