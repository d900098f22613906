#include "rules/encoding.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "rules/string_list.h"
#include "rules/rules_fixture.h"
#include "runtime/exception.h"

namespace tessel {
namespace {

class EncodingTest : public RulesTest {};

TEST_F(EncodingTest, GetBufferEncodingTestsTheMarksInOrder) {
    struct Case {
        const char* name;
        Bytes buffer;
        TEncoding* (*encoding)();
        int markLength;
    };
    const Case cases[] = {
        {"empty", {}, &TEncoding::ANSI, 0},
        {"EF", {0xEF}, &TEncoding::ANSI, 0},
        {"EF BB", {0xEF, 0xBB}, &TEncoding::ANSI, 0},
        {"EF BB BF", {0xEF, 0xBB, 0xBF}, &TEncoding::UTF8, 3},
        {"EF BB BF and text", {0xEF, 0xBB, 0xBF, 'x'}, &TEncoding::UTF8, 3},
        {"FF", {0xFF}, &TEncoding::ANSI, 0},
        {"FF FE", {0xFF, 0xFE}, &TEncoding::Unicode, 2},
        {"FF FE 00 00", {0xFF, 0xFE, 0x00, 0x00}, &TEncoding::Unicode, 2},
        {"FE FF", {0xFE, 0xFF}, &TEncoding::BigEndianUnicode, 2},
        {"BF BB EF", {0xBF, 0xBB, 0xEF}, &TEncoding::ANSI, 0},
        {"mark not at the start", {'x', 0xEF, 0xBB, 0xBF}, &TEncoding::ANSI, 0},
    };
    for (const Case& c : cases) {
        TEncoding* encoding = nullptr;
        EXPECT_EQ(TEncoding::GetBufferEncoding(c.buffer, encoding, TEncoding::ANSI()), c.markLength) << c.name;
        EXPECT_EQ(encoding, c.encoding()) << c.name;
    }
}

TEST_F(EncodingTest, GetStringDecodesTheStretchAsked) {
    const Bytes bytes{'x', 0xC3, 0xA9, 'y'};
    EXPECT_EQ(TEncoding::UTF8()->GetString(bytes, 1, 2), u"\u00E9");
    EXPECT_EQ(TEncoding::ANSI()->GetString(bytes, 1, 2), u"\u00C3\u00A9");
    EXPECT_EQ(TEncoding::Unicode()->GetString(bytes, 0, 4), u"\uC378\u79A9");
    EXPECT_EQ(TEncoding::BigEndianUnicode()->GetString(bytes, 0, 4), u"\u78C3\uA979");
    // No bytes is the empty text, not a failure, for every encoding.
    for (TEncoding* encoding : {TEncoding::ANSI(), TEncoding::UTF8(), TEncoding::Unicode(),
                                TEncoding::BigEndianUnicode()})
        EXPECT_EQ(encoding->GetString(bytes, 1, 0), u"");
    EXPECT_THROW(TEncoding::UTF8()->GetString(bytes, 0, 2), EEncodingError);
    EXPECT_THROW(TEncoding::Unicode()->GetString(bytes, 3, 1), EEncodingError);
}

TEST_F(EncodingTest, MarksOfTheEncodings) {
    EXPECT_EQ(Bytes(TEncoding::UTF8()->GetPreamble().begin(), TEncoding::UTF8()->GetPreamble().end()),
              (Bytes{0xEF, 0xBB, 0xBF}));
    EXPECT_EQ(Bytes(TEncoding::Unicode()->GetPreamble().begin(), TEncoding::Unicode()->GetPreamble().end()),
              (Bytes{0xFF, 0xFE}));
    EXPECT_EQ(Bytes(TEncoding::BigEndianUnicode()->GetPreamble().begin(),
                    TEncoding::BigEndianUnicode()->GetPreamble().end()),
              (Bytes{0xFE, 0xFF}));
    EXPECT_TRUE(TEncoding::ANSI()->GetPreamble().empty());
}

TEST_F(EncodingTest, AnsiEncodingKeepsTheCodePageOfItsCreation) {
    TEncoding* ansi = TEncoding::ANSI();
    desktop.AnsiCodePage = 932;
    EXPECT_EQ(TEncoding::ANSI(), ansi);
    EXPECT_EQ(ansi->GetString(Bytes{0x93, 0xFA}, 0, 2), u"\u201C\u00FA");
}

TEST_F(EncodingTest, InstancesAreSharedAndDistinct) {
    TEncoding* const all[] = {TEncoding::ANSI(), TEncoding::UTF8(), TEncoding::Unicode(),
                              TEncoding::BigEndianUnicode()};
    EXPECT_EQ(all[0], TEncoding::ANSI());
    EXPECT_EQ(all[1], TEncoding::UTF8());
    EXPECT_EQ(all[2], TEncoding::Unicode());
    EXPECT_EQ(all[3], TEncoding::BigEndianUnicode());
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) EXPECT_NE(all[i], all[j]);
    TStringList first, second;
    EXPECT_EQ(first.DefaultEncoding(), all[0]);
    EXPECT_EQ(second.DefaultEncoding(), all[0]);
}

TEST_F(EncodingTest, RacingCreatorsAllGetThePublishedInstance) {
    // Creators that lose the race release their own instance (the leak
    // checker of the sanitizer build would report one that is kept).
    for (int round = 0; round < 20; ++round) {
        TEncoding::FreeInstances();
        std::vector<TEncoding*> seen(8);
        std::latch start(static_cast<std::ptrdiff_t>(seen.size()));
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&seen, &start, i] {
                start.arrive_and_wait();
                seen[i] = TEncoding::UTF8();
            });
        for (std::thread& thread : threads) thread.join();
        for (TEncoding* encoding : seen) EXPECT_EQ(encoding, TEncoding::UTF8()) << "round " << round;
    }
}

TEST_F(EncodingTest, CodePageWithoutInformationFailsTheFirstList) {
    struct Case {
        const char* name;
        std::uint32_t codePage;
        bool valid;
    };
    const Case cases[] = {
        {"platform has no information", 1252, false},
        {"unknown code page", 54321, true},
    };
    for (const Case& c : cases) {
        TEncoding::FreeInstances();
        desktop.AnsiCodePage = c.codePage;
        desktop.AnsiCodePageValid = c.valid;
        try {
            TStringList list;
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const EEncodingError& error) {
            EXPECT_EQ(error.Message(), u"コード ページが無効です") << c.name;
        }
    }
    // Nothing was published, so a valid code page later succeeds.
    desktop.AnsiCodePage = 1252;
    desktop.AnsiCodePageValid = true;
    TStringList list;
    EXPECT_NE(list.DefaultEncoding(), nullptr);
}

}  // namespace
}  // namespace tessel
