#include "runtime/error_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/report_fixture.h"

namespace tessel {
namespace {

class ErrorReportTest : public MemoryMapTest {};

TEST_F(ErrorReportTest, NamesClassModuleAddressAndMessage) {
    struct Case {
        const char* Why;
        Exception Error;
        std::uintptr_t Address;
        std::u16string Expected;
    };
    const Case cases[] = {
        {"an address in the executable is shown relative to its load address",
         EMaskException(u"5 番目の文字（'[abc'）は正しくないマスク文字です"), 0x00401A2B,
         u"EMaskException がモジュール Tessel.exe の 00001A2B で発生しました。\r\n"
         u"5 番目の文字（'[abc'）は正しくないマスク文字です.\r\n"},
        {"an address in another module names that module without its directory",
         EAccessViolation(u"x"), 0x76A1F00D,
         u"EAccessViolation がモジュール USER32.dll の 0000F00D で発生しました。\r\nx.\r\n"},
        {"a module path without a backslash is the name", EFOpenError(u"x"), 0x00600010,
         u"EFOpenError がモジュール NoDirectory.dll の 00000010 で発生しました。\r\nx.\r\n"},
        {"address 0 names the executable and shows eight zeros", EExternalException(u"x"), 0,
         u"EExternalException がモジュール Tessel.exe の 00000000 で発生しました。\r\nx.\r\n"},
        {"committed memory outside any module names the executable, less 0x1000", EOutOfMemory(u"x"),
         0x02000010, u"EOutOfMemory がモジュール Tessel.exe の 01FFF010 で発生しました。\r\nx.\r\n"},
        {"free memory names the executable, less 0x1000", EFOpenError(u"x"), 0x03000000,
         u"EFOpenError がモジュール Tessel.exe の 02FFF000 で発生しました。\r\nx.\r\n"},
        {"a message ending in a full stop gets no second one", EFOpenError(u"done."), 0x00401000,
         u"EFOpenError がモジュール Tessel.exe の 00001000 で発生しました。\r\ndone.\r\n"},
        {"a message ending in an ideographic full stop gets one", EFOpenError(u"終わり。"), 0x00401000,
         u"EFOpenError がモジュール Tessel.exe の 00001000 で発生しました。\r\n終わり。.\r\n"},
        {"a message ending in a space gets the full stop after it", EFOpenError(u"ファイル a は開けません。 b "),
         0x00401000,
         u"EFOpenError がモジュール Tessel.exe の 00001000 で発生しました。\r\nファイル a は開けません。 b .\r\n"},
        {"an empty message leaves the second line empty", EFOpenError(u""), 0x00401000,
         u"EFOpenError がモジュール Tessel.exe の 00001000 で発生しました。\r\n\r\n"},
        {"placeholders in the message stay text", EFOpenError(u"%s %p %1:s"), 0x00401000,
         u"EFOpenError がモジュール Tessel.exe の 00001000 で発生しました。\r\n%s %p %1:s.\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Narrow(BuildExceptionReport(c.Error, Address(c.Address), ReportCapacity)), Narrow(c.Expected))
            << c.Why;
}

TEST_F(ErrorReportTest, IsCutAfterItsCapacity) {
    // A long file name in the message makes a report of more than 1024 characters.
    const EFOpenError error(u"ファイル C:\\" + std::u16string(1200, u'a') + u" は開けません。 x ");
    const std::u16string whole = BuildExceptionReport(error, Address(0x00401000), 4096);
    ASSERT_GT(whole.size(), ReportCapacity);
    EXPECT_EQ(BuildExceptionReport(error, Address(0x00401000), ReportCapacity), whole.substr(0, ReportCapacity));
    EXPECT_EQ(BuildExceptionReport(error, Address(0x00401000), 10), u"EFOpenErro");

    ShowExceptionReport(error, Address(0x00401000));
    ASSERT_EQ(desktop.MessageBoxes.size(), 1u);
    EXPECT_EQ(desktop.MessageBoxes[0].Text, whole.substr(0, ReportCapacity));
}

TEST_F(ErrorReportTest, ShowsOneTaskModalStopBox) {
    ShowExceptionReport(EMaskException(u"m"), Address(0x00401010));
    ASSERT_EQ(desktop.MessageBoxes.size(), 1u);
    EXPECT_EQ(desktop.MessageBoxes[0].Caption, u"アプリケーションエラー");
    EXPECT_EQ(desktop.MessageBoxes[0].Style, 0x2010u);
    EXPECT_EQ(desktop.MessageBoxes[0].Text, u"EMaskException がモジュール Tessel.exe の 00001010 で発生しました。\r\nm.\r\n");
}

TEST_F(ErrorReportTest, ModuleFileNameDropsTheDirectory) {
    EXPECT_EQ(ModuleFileName(0), u"Tessel.exe");
    EXPECT_EQ(ModuleFileName(0x76A10000), u"USER32.dll");
    EXPECT_EQ(ModuleFileName(0x02000000), u"") << "no module at that base";
}

}  // namespace
}  // namespace tessel
