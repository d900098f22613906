#include "rules/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "rules/encoding.h"
#include "rules/string_list.h"
#include "rules/rules_fixture.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"

namespace tessel {
namespace {

class RulesFileStreamTest : public RulesTest {
protected:
    /// The message of the EFOpenError that loading the name raises.
    std::u16string OpenFailure(const std::u16string& name) {
        TStringList list;
        try {
            list.LoadFromFile(name);
        } catch (const EFOpenError& error) {
            EXPECT_EQ(list.Count(), 0);
            return error.Message();
        }
        ADD_FAILURE() << "no EFOpenError";
        return {};
    }
};

TEST_F(RulesFileStreamTest, OpenFailuresNameTheFullPathAndTheReason) {
    files.Write("locked.txt", {'A'});
    std::filesystem::create_directory(files.Directory() / "folder");
    desktop.FilesOpenForWriting.insert(files.Path("locked.txt"));
    desktop.CurrentDirectory = files.Path("");
    // Longer than the first buffer of 260 characters.
    std::u16string deep = files.Path("");
    while (deep.size() < 400) deep += u"directory-that-does-not-exist/";
    deep += u"rules.txt";

    struct Case {
        const char* name;
        std::u16string fileName;
        std::u16string message;
    };
    const Case cases[] = {
        {"missing file", files.Path("missing.txt"),
         u"ファイル " + files.Path("missing.txt") + u" は開けません。 指定されたファイルが見つかりません。 "},
        {"relative name", u"missing.txt",
         u"ファイル " + files.Path("missing.txt") + u" は開けません。 指定されたファイルが見つかりません。 "},
        {"relative name going up", u"folder/../missing.txt",
         u"ファイル " + files.Path("missing.txt") + u" は開けません。 指定されたファイルが見つかりません。 "},
        {"placeholders in the name stay text", files.Path("%s %d %1:s %%.txt"),
         u"ファイル " + files.Path("%s %d %1:s %%.txt") + u" は開けません。 指定されたファイルが見つかりません。 "},
        {"missing directory", files.Path("nowhere/rules.txt"),
         u"ファイル " + files.Path("nowhere/rules.txt") + u" は開けません。 指定されたパスが見つかりません。 "},
        {"path beyond 260 characters", deep, u"ファイル " + deep + u" は開けません。 指定されたパスが見つかりません。 "},
        {"empty name", u"",
         u"ファイル  は開けません。 ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。 "},
        {"file another process writes", files.Path("locked.txt"),
         u"ファイル " + files.Path("locked.txt") +
             u" は開けません。 プロセスはファイルにアクセスできません。別のプロセスが使用中です。 "},
        {"directory", files.Path("folder"),
         u"ファイル " + files.Path("folder") + u" は開けません。 アクセスが拒否されました。 "},
    };
    for (const Case& c : cases) EXPECT_EQ(OpenFailure(c.fileName), c.message) << c.name;
    EXPECT_TRUE(desktop.ClosedHandles.empty());
}

// A file kept in a cloud-synced folder while offline, or on a share that
// went away, opens and then cannot be read: the rules it holds would be lost
// without a word and the windows they exempt moved.
TEST_F(RulesFileStreamTest, ReadFailuresNameTheFullPathAndTheReason) {
    struct Case {
        const char* name;
        std::uint32_t failure;   // the error every read fails with; 0: none
        std::uint32_t delivered; // with no failure, the bytes the reads deliver in all
        std::u16string reason;
    };
    const Case cases[] = {
        {"the read fails", 64, 0, u"指定されたネットワーク名は利用できなくなりました。"},
        {"the read ends before the file's size", 0, 4, u"ファイルの終わりに到達しました。"},
        {"the read delivers nothing", 0, 0, u"ファイルの終わりに到達しました。"},
    };
    desktop.CurrentDirectory = files.Path("");
    for (const Case& c : cases) {
        const std::u16string path = files.Write("rules.txt", {'A', '=', 'B', '\r', '\n', 'C', '=', 'D'});
        desktop.FileReadFailures.clear();
        desktop.FileReadLimits.clear();
        if (c.failure != 0) {
            desktop.FileReadFailures[path] = c.failure;
        } else {
            desktop.FileReadLimits[path] = c.delivered;
        }
        desktop.ClosedHandles.clear();
        TStringList list;
        try {
            list.LoadFromFile(u"rules.txt");
            ADD_FAILURE() << c.name << ": no EReadError";
        } catch (const EReadError& error) {
            EXPECT_EQ(error.Message(), u"ファイル " + path + u" は読み込めません。 " + c.reason + u" ") << c.name;
        }
        EXPECT_EQ(list.Count(), 0) << c.name;
        EXPECT_EQ(desktop.ClosedHandles.size(), 1u) << c.name << ": the file is closed";
    }
}

TEST_F(RulesFileStreamTest, ReleasingTheStreamClosesTheFile) {
    const std::u16string good = files.Write("good.txt", {'A', '=', 'B'});
    const std::u16string bad = files.Write("bad.txt", {0xEF, 0xBB, 0xBF, 0xFF});
    {
        TStringList list;
        list.LoadFromFile(good);
    }
    ASSERT_EQ(desktop.ClosedHandles.size(), 1u);
    TStringList list;
    EXPECT_THROW(list.LoadFromFile(bad), EEncodingError);
    ASSERT_EQ(desktop.ClosedHandles.size(), 2u);
    EXPECT_NE(desktop.ClosedHandles[0], InvalidHandleValue);
    // A file that was read can be opened again at once.
    list.LoadFromFile(good);
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(RulesFileStreamTest, SizeAndPositionOfAStream) {
    TFileStream stream(files.Write("five.txt", {'1', '2', '3', '4', '5'}));
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.Seek(2, soBeginning), 2);
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.Position(), 2);
    char rest[8] = {};
    EXPECT_EQ(stream.Read(rest, 8), 3);
    EXPECT_STREQ(rest, "345");
    EXPECT_EQ(stream.Seek(-1, soBeginning), -1);
}

// Sizes are signed 32-bit counts, so a file of 2 GiB or more cannot be held
// as one text; it fails clearly before any buffer is allocated. The files
// are sparse and cost no disk space.
TEST_F(RulesFileStreamTest, FilesBeyondA32BitCountRaiseOutOfMemory) {
    struct Case {
        const char* name;
        std::uintmax_t size;
    };
    const Case cases[] = {
        {"2 GiB", 0x80000000u},
        {"4 GiB and one byte", 0x100000001u},
    };
    for (const Case& c : cases) {
        const std::u16string name = files.Write("huge.txt", {});
        std::filesystem::resize_file(files.Directory() / "huge.txt", c.size);
        TStringList list;
        try {
            list.LoadFromFile(name);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const EOutOfMemory& error) {
            EXPECT_EQ(error.Message(), LoadResString(SOutOfMemory)) << c.name;
        }
        EXPECT_EQ(list.Count(), 0) << c.name;
    }
    EXPECT_EQ(desktop.ClosedHandles.size(), 2u);
}

}  // namespace
}  // namespace tessel
