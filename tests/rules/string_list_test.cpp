#include "rules/string_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rules/encoding.h"
#include "rules/file_stream.h"
#include "rules/rules_fixture.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"

namespace tessel {
namespace {

using Lines = std::vector<std::u16string>;

Lines Entries(const TStrings& list) {
    Lines lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
    return lines;
}

std::string Printable(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[12];
            std::snprintf(hex, sizeof hex, "<%04X>", static_cast<unsigned>(c));
            out += hex;
        }
    }
    return out;
}

std::string Printable(const Lines& lines) {
    std::string out = "{";
    for (const std::u16string& line : lines) out += " \"" + Printable(line) + "\"";
    return out + " }";
}

class StringListTest : public RulesTest {};

TEST_F(StringListTest, AddAppendsInOrderAndKeepsDuplicates) {
    TStringList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Add(u"=Shell_*TrayWnd"), 0);
    EXPECT_EQ(list.Add(u"b"), 1);
    EXPECT_EQ(list.Add(u"b"), 2);
    EXPECT_EQ(list.AddObject(u"", nullptr), 3);
    EXPECT_EQ(Entries(list), (Lines{u"=Shell_*TrayWnd", u"b", u"b", u""}));
    EXPECT_EQ(list.GetObject(1), nullptr);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(StringListTest, AddStringsAppendsBehindTheEntriesAlreadyPresent) {
    TStringList rules;
    rules.Add(u"=Shell_*TrayWnd");
    TStringList file;
    file.Add(u"A=B");
    file.Add(u"A=B");
    rules.AddStrings(file);
    rules.AddStrings(file);
    EXPECT_EQ(Entries(rules), (Lines{u"=Shell_*TrayWnd", u"A=B", u"A=B", u"A=B", u"A=B"}));
    EXPECT_EQ(Entries(file), (Lines{u"A=B", u"A=B"}));
}

TEST_F(StringListTest, NewListSettings) {
    TStringList list;
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.Duplicates(), dupIgnore);
    EXPECT_FALSE(list.CaseSensitive());
    EXPECT_EQ(list.NameValueSeparator(), u'=');
    EXPECT_EQ(list.LineBreak(), u"\r\n");
    EXPECT_EQ(list.DefaultEncoding(), TEncoding::ANSI());
    EXPECT_EQ(list.Encoding(), nullptr);
}

TEST_F(StringListTest, SetTextCutsLines) {
    struct Case {
        const char* name;
        std::u16string text;
        Lines lines;
    };
    const Case cases[] = {
        {"empty text", u"", {}},
        {"one line without break", u"x", {u"x"}},
        {"final CR LF adds no line", u"A=B\r\nC=D\r\n", {u"A=B", u"C=D"}},
        {"LF LF", u"A=B\n\nC=D", {u"A=B", u"", u"C=D"}},
        {"lone CR", u"A=B\rC=D", {u"A=B", u"C=D"}},
        {"LF CR", u"A=B\n\rC=D", {u"A=B", u"", u"C=D"}},
        {"CR CR LF", u"A=B\r\r\nC=D", {u"A=B", u"", u"C=D"}},
        {"only a break", u"\r\n", {u""}},
        {"final lone CR", u"a\r", {u"a"}},
        {"leading empty lines", u"\n\nx", {u"", u"", u"x"}},
        {"U+0000 ends the text", std::u16string(u"A=B\r\nC\0D\r\nE", 11), {u"A=B", u"C"}},
        {"U+0000 first", std::u16string(u"\0A", 2), {}},
        {"spaces and tabs stay", u" a = b \t\r\n\t", {u" a = b \t", u"\t"}},
    };
    for (const Case& c : cases) {
        TStringList list;
        list.Add(u"old");
        list.SetText(c.text);
        EXPECT_EQ(Entries(list), c.lines) << c.name << ": got " << Printable(Entries(list));
    }
}

TEST_F(StringListTest, NameValueSplitAtTheFirstSeparator) {
    struct Case {
        std::u16string entry, name, value;
    };
    const Case cases[] = {
        {u"A=B", u"A", u"B"},
        {u"A=B=C", u"A", u"B=C"},
        {u"a==b", u"a", u"=b"},
        {u"=Shell_*TrayWnd", u"", u"Shell_*TrayWnd"},
        {u"Title=", u"Title", u""},
        {u"=", u"", u""},
        {u"no separator", u"", u""},
        {u"", u"", u""},
        {u" a = b ", u" a ", u" b "},
        {u"\tT\t=\tC\t", u"\tT\t", u"\tC\t"},
        {u"\uFF1D=x", u"\uFF1D", u"x"},  // a fullwidth equals sign is no separator
    };
    TStringList list;
    for (const Case& c : cases) list.Add(c.entry);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.GetName(i), cases[i].name) << "entry \"" << Printable(cases[i].entry) << "\"";
        EXPECT_EQ(list.GetValueFromIndex(i), cases[i].value) << "entry \"" << Printable(cases[i].entry) << "\"";
    }
    EXPECT_EQ(list.GetValueFromIndex(-1), u"");
}

class LoadFromFileTest : public RulesTest {};

TEST_F(LoadFromFileTest, BytesBecomeRules) {
    struct Case {
        const char* name;
        Bytes bytes;
        Lines rules;
        TEncoding* (*encoding)();
    };
    const Case cases[] = {
        {"empty file", {}, {}, &TEncoding::ANSI},
        {"UTF-8 mark alone", {0xEF, 0xBB, 0xBF}, {}, &TEncoding::UTF8},
        {"UTF-16 LE mark alone", {0xFF, 0xFE}, {}, &TEncoding::Unicode},
        {"UTF-16 BE mark alone", {0xFE, 0xFF}, {}, &TEncoding::BigEndianUnicode},
        {"two lines ended by CR LF", {'A', '=', 'B', 0x0D, 0x0A, 'C', '=', 'D', 0x0D, 0x0A}, {u"A=B", u"C=D"},
         &TEncoding::ANSI},
        {"LF LF", {'A', '=', 'B', 0x0A, 0x0A, 'C', '=', 'D'}, {u"A=B", u"", u"C=D"}, &TEncoding::ANSI},
        {"lone CR", {'A', '=', 'B', 0x0D, 'C', '=', 'D'}, {u"A=B", u"C=D"}, &TEncoding::ANSI},
        {"LF CR", {'A', '=', 'B', 0x0A, 0x0D, 'C', '=', 'D'}, {u"A=B", u"", u"C=D"}, &TEncoding::ANSI},
        {"CR CR LF", {'A', '=', 'B', 0x0D, 0x0D, 0x0A, 'C', '=', 'D'}, {u"A=B", u"", u"C=D"}, &TEncoding::ANSI},
        {"duplicate lines stay", {'A', 0x0D, 0x0A, 'A'}, {u"A", u"A"}, &TEncoding::ANSI},
        {"U+0000 ends the file", {'A', '=', 'B', 0x0D, 0x0A, 'C', 0x00, 'D', 0x0D, 0x0A, 'E'}, {u"A=B", u"C"},
         &TEncoding::ANSI},
        {"UTF-8 without mark is ANSI", {0xC3, 0xA9}, {u"\u00C3\u00A9"}, &TEncoding::ANSI},
        {"code page 1252 euro sign", {0x80}, {u"\u20AC"}, &TEncoding::ANSI},
        {"code page 1252 holes are C1 controls", {0x81, 0x8D, 0x8F, 0x90, 0x9D}, {u"\u0081\u008D\u008F\u0090\u009D"},
         &TEncoding::ANSI},
        {"half a UTF-8 mark is ANSI", {0xEF, 0xBB}, {u"\u00EF\u00BB"}, &TEncoding::ANSI},
        {"UTF-8 after its mark", {0xEF, 0xBB, 0xBF, 0xC3, 0xA9, '=', 0xE6, 0x97, 0xA5}, {u"\u00E9=\u65E5"},
         &TEncoding::UTF8},
        {"UTF-8 four-byte sequence", {0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}, {u"\U0001F600"}, &TEncoding::UTF8},
        {"UTF-8 mark is taken once", {0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF, 'x'}, {u"\uFEFFx"}, &TEncoding::UTF8},
        {"UTF-16 LE odd last byte dropped", {0xFF, 0xFE, 0x41, 0x00, 0x42}, {u"A"}, &TEncoding::Unicode},
        {"UTF-16 LE lines", {0xFF, 0xFE, 'A', 0, 0x0D, 0, 0x0A, 0, 'B', 0}, {u"A", u"B"}, &TEncoding::Unicode},
        {"UTF-16 LE starting with U+0000", {0xFF, 0xFE, 0x00, 0x00, 'A', 0}, {}, &TEncoding::Unicode},
        {"UTF-16 BE", {0xFE, 0xFF, 0x00, 0x41}, {u"A"}, &TEncoding::BigEndianUnicode},
        {"UTF-16 BE bytes swapped", {0xFE, 0xFF, 0x65, 0xE5, 0x00, '='}, {u"\u65E5="}, &TEncoding::BigEndianUnicode},
        {"UTF-16 LE mark wins over UTF-16 BE", {0xFF, 0xFE, 0xFE, 0xFF}, {u"\uFFFE"}, &TEncoding::Unicode},
    };
    for (const Case& c : cases) {
        TStringList list;
        list.LoadFromFile(files.Write("rules.txt", c.bytes));
        EXPECT_EQ(Entries(list), c.rules) << c.name << ": got " << Printable(Entries(list));
        EXPECT_EQ(list.Encoding(), c.encoding()) << c.name;
    }
}

TEST_F(LoadFromFileTest, UndecodableBytesRaiseAndLeaveTheListAsItWas) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"UTF-8 mark and FF", {0xEF, 0xBB, 0xBF, 0xFF}},
        {"invalid UTF-8 after valid lines", {0xEF, 0xBB, 0xBF, 'A', 0x0D, 0x0A, 'B', 0x80}},
        {"UTF-8 cut in a sequence", {0xEF, 0xBB, 0xBF, 'A', 0xE6, 0x97}},
        {"overlong UTF-8", {0xEF, 0xBB, 0xBF, 0xC0, 0x80}},
        {"UTF-8 surrogate", {0xEF, 0xBB, 0xBF, 0xED, 0xA0, 0x80}},
        {"UTF-8 beyond U+10FFFF", {0xEF, 0xBB, 0xBF, 0xF4, 0x90, 0x80, 0x80}},
        {"UTF-16 LE mark and one byte", {0xFF, 0xFE, 0x41}},
        {"UTF-16 BE mark and one byte", {0xFE, 0xFF, 0x41}},
    };
    for (const Case& c : cases) {
        TStringList list;
        list.Add(u"kept");
        try {
            list.LoadFromFile(files.Write("rules.txt", c.bytes));
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const EEncodingError& error) {
            EXPECT_EQ(error.Message(), u"Unicode 文字のマッピングがターゲットのマルチバイト コード ページに存在しません")
                << c.name;
        }
        EXPECT_EQ(Entries(list), Lines{u"kept"}) << c.name;
    }
}

TEST_F(LoadFromFileTest, SettingTheTextReplacesEarlierEntries) {
    TStringList list;
    list.Add(u"old");
    list.LoadFromFile(files.Write("rules.txt", {'n', 'e', 'w'}));
    EXPECT_EQ(Entries(list), Lines{u"new"});
}

TEST_F(LoadFromFileTest, AnsiCodePage932) {
    desktop.AnsiCodePage = 932;
    TEncoding::FreeInstances();
    TStringList list;
    // 日本=* in Shift_JIS, then the single bytes the platform maps beyond iconv.
    list.LoadFromFile(files.Write("rules.txt", {0x93, 0xFA, 0x96, 0x7B, '=', '*', 0x0D, 0x0A, 0x80, 0xA0, 0xFD, 0xFF}));
    EXPECT_EQ(Entries(list), (Lines{u"日本=*", u"\u0080\uF8F0\uF8F1\uF8F3"}));
    EXPECT_EQ(list.GetName(0), u"日本");
}

// A stream that states a size but delivers fewer bytes, or none.
class ShortStream : public TStream {
public:
    ShortStream(Bytes bytes, int size) : FBytes(std::move(bytes)), FSize(size) {}
    int Read(void* buffer, int count) override {
        const int n = std::min(count, static_cast<int>(FBytes.size()));
        std::copy_n(FBytes.begin(), n, static_cast<std::uint8_t*>(buffer));
        return n;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        FPosition = origin == soBeginning ? offset : origin == soCurrent ? FPosition + offset : FSize + offset;
        return FPosition;
    }

private:
    Bytes FBytes;
    std::int64_t FSize;
    std::int64_t FPosition = 0;
};

// A stream that delivers less than it states loses what follows, so the
// load fails instead of taking the part that arrived.
TEST_F(LoadFromFileTest, ShortReadRaisesReadError) {
    struct Case {
        const char* name;
        Bytes delivered;
        int size;
    };
    const Case cases[] = {
        {"nothing delivered", {}, 100},
        {"half delivered", {'A', '=', 'B', 0x0D, 0x0A, 'C'}, 100},
        {"UTF-16 mark then nothing", {0xFF, 0xFE}, 8},
    };
    for (const Case& c : cases) {
        ShortStream stream(c.delivered, c.size);
        TStringList list;
        list.Add(u"kept");
        try {
            list.LoadFromStream(stream);
            ADD_FAILURE() << c.name << ": no EReadError";
        } catch (const EReadError& error) {
            EXPECT_EQ(error.Message(), LoadResString(SReadError)) << c.name;
        }
        EXPECT_EQ(Entries(list), Lines{u"kept"}) << c.name;
    }
}

}  // namespace
}  // namespace tessel
