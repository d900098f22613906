#include "main/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "fixtures.h"

namespace tessel {
namespace {

struct SplitCase {
    const char16_t* Tail;  // what follows the program's own name and a space
    std::vector<std::u16string> Arguments;
};

const SplitCase SplitCases[] = {
    {u"a b", {u"a", u"b"}},
    {u"a\tb", {u"a", u"b"}},
    {u"\"C:\\Program Files\\Tool\\tool.exe\" -e rules.txt", {u"C:\\Program Files\\Tool\\tool.exe", u"-e", u"rules.txt"}},
    {u"C:\\\"Program Files\"\\Tool\\tool.exe", {u"C:\\Program Files\\Tool\\tool.exe"}},
    {u"a\"b c\"d", {u"ab cd"}},
    {u"\"C:\\Tools\\\" next", {u"C:\\Tools\\", u"next"}},
    {u"\"a\"\"b\"", {u"ab"}},
    {u"\"\" x", {u"x"}},
    {u"x \"\"", {u"x"}},
    {u"\"\"\"\" x", {u"x"}},
    {u"\"\" \"\" x", {u"x"}},
    {u"x \"", {u"x"}},
    {u"\"open end -e rules.txt", {u"open end -e rules.txt"}},
    {u"\" \"", {u" "}},
    {u"", {}},
    {u"  \t\r\n ", {}},
    {u"a\x01" u"b\x1F" u"c\x7F" u"d", {u"a", u"b", u"c\x7F" u"d"}},
    {u"a\u00A0b\u3000c", {u"a\u00A0b\u3000c"}},
    {u"a\nb\rc", {u"a", u"b", u"c"}},
    {u"back\\slash\\\\ x\\", {u"back\\slash\\\\", u"x\\"}},
    {u"\"\"a", {u"a"}},
    {u"a\"\"b", {u"ab"}},
};

TEST(CommandLine, SplitsTokensAsTheSyntaxSays) {
    for (const SplitCase& c : SplitCases) {
        const std::u16string line = std::u16string(u"Tessel.exe ") + c.Tail;
        EXPECT_EQ(SplitArguments(line), c.Arguments) << "command line tail: " << Narrow(c.Tail);
    }
}

TEST(CommandLine, UnquotedProgramPathLosesItsTailToTheArguments) {
    EXPECT_EQ(SplitArguments(u"C:\\Program Files\\Tool\\tool.exe x"),
              (std::vector<std::u16string>{u"Files\\Tool\\tool.exe", u"x"}));
}

TEST(CommandLine, ReadNextArgumentStopsOnTheSeparator) {
    const std::u16string_view text = u"one  two";
    std::size_t position = 0;
    EXPECT_EQ(ReadNextArgument(text, position), u"one");
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(ReadNextArgument(text, position), u"two");
    EXPECT_EQ(position, text.size());
    EXPECT_EQ(ReadNextArgument(text, position), u"");
}

class ProcessCommandLine : public DesktopTest {};

TEST_F(ProcessCommandLine, CountAndArgumentsAgreeWithTheSplit) {
    for (const SplitCase& c : SplitCases) {
        desktop.CommandLine = std::u16string(u"\"C:\\Tessel\\Tessel.exe\" ") + c.Tail;
        const int count = ArgumentCount();
        ASSERT_EQ(count, static_cast<int>(c.Arguments.size())) << Narrow(c.Tail);
        for (int i = 1; i <= count; ++i) EXPECT_EQ(GetArgument(i), c.Arguments[i - 1]) << Narrow(c.Tail);
        EXPECT_EQ(GetArgument(count + 1), u"") << Narrow(c.Tail);
        EXPECT_EQ(GetArgument(count + 5), u"") << Narrow(c.Tail);
    }
}

TEST_F(ProcessCommandLine, EndsAtTheFirstZeroUnit) {
    desktop.CommandLine = std::u16string(u"Tessel.exe a\0b", 14);
    EXPECT_EQ(ArgumentCount(), 1);
    EXPECT_EQ(GetArgument(1), u"a");
}

TEST_F(ProcessCommandLine, TokenZeroIsTheProgramName) {
    desktop.CommandLine = u"\"C:\\My Tools\\Tessel.exe\" x";
    EXPECT_EQ(GetArgument(0), u"C:\\My Tools\\Tessel.exe");
}

TEST(DirectoryPart, EndsAtTheLastBackslashOrColon) {
    const struct {
        const char16_t* Entry;
        const char16_t* Directory;
    } cases[] = {
        {u"C:\\Tools\\app.exe", u"C:\\Tools\\"}, {u"..\\bin\\app.exe", u"..\\bin\\"},
        {u"C:app.exe", u"C:"},                    {u"D:/Tools/app.exe", u"D:"},
        {u"tools/app.exe", u""},                  {u"app.exe", u""},
        {u"C:\\Tools\\", u"C:\\Tools\\"},         {u"\\\\server\\share\\a.exe", u"\\\\server\\share\\"},
        {u"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(GetDirectoryPart(c.Entry), c.Directory) << Narrow(c.Entry);
}

}  // namespace
}  // namespace tessel
