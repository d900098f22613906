#include "runtime/platform_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/report_fixture.h"

namespace tessel {
namespace {

ExceptionRecord Record(std::uint32_t code, std::uintptr_t address) {
    return ExceptionRecord{.ExceptionCode = code, .ExceptionAddress = Address(address)};
}

ExceptionRecord AccessViolation(std::uintptr_t address, std::uintptr_t kind, std::uintptr_t accessed) {
    ExceptionRecord record = Record(0xC0000005, address);
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = kind;
    record.ExceptionInformation[1] = accessed;
    return record;
}

class MapPlatformExceptionTest : public MemoryMapTest {};

TEST_F(MapPlatformExceptionTest, EachCodeHasItsClassAndMessage) {
    struct Case {
        std::uint32_t Code;
        const char16_t* ClassName;
        std::u16string Message;
    };
    const Case cases[] = {
        {0xC000008C, u"ERangeError", u"範囲チェックエラー"},
        {0xC000008D, u"EUnderflow", u"浮動小数点数のアンダーフロー"},
        {0xC0000093, u"EUnderflow", u"浮動小数点数のアンダーフロー"},
        {0xC000008E, u"EZeroDivide", u"0 による浮動小数点数除算"},
        {0xC000008F, u"EInvalidOp", u"不正な浮動小数点数演算命令"},
        {0xC0000090, u"EInvalidOp", u"不正な浮動小数点数演算命令"},
        {0xC0000092, u"EInvalidOp", u"不正な浮動小数点数演算命令"},
        {0xC0000091, u"EOverflow", u"浮動小数点数のオーバーフロー"},
        {0xC0000094, u"EDivByZero", u"ゼロによる除算"},
        {0xC0000095, u"EIntOverflow", u"整数のオーバーフロー"},
        {0xC0000096, u"EPrivilege", u"特権命令"},
        {0xC00000FD, u"EStackOverflow", u"スタックオーバーフロー"},
        {0xC000013A, u"EControlC", u"CTRL-C"},
        // Codes without a class of their own: the delayed imports, an illegal
        // instruction, a C++ exception that the system did not raise.
        {0xC06D007E, u"EExternalException", u"外部例外 C06D007E"},
        {0xC06D007F, u"EExternalException", u"外部例外 C06D007F"},
        {0xC000001D, u"EExternalException", u"外部例外 C000001D"},
        {0x20474343, u"EExternalException", u"外部例外 20474343"},
        {0, u"EExternalException", u"外部例外 0"},
    };
    for (const Case& c : cases) {
        const Exception failure = MapPlatformException(Record(c.Code, 0x00401234));
        EXPECT_EQ(Narrow(failure.ClassName()), Narrow(c.ClassName)) << std::hex << c.Code;
        EXPECT_EQ(Narrow(failure.Message()), Narrow(c.Message)) << std::hex << c.Code;
        EXPECT_EQ(failure.RaiseAddress(), Address(0x00401234)) << "the record's exception address, " << std::hex
                                                                << c.Code;
    }
}

TEST_F(MapPlatformExceptionTest, AccessViolationSaysWhatWasAccessedAndWhere) {
    struct Case {
        const char* Why;
        ExceptionRecord Record;
        std::u16string Message;
    };
    const Case cases[] = {
        {"a read in the executable", AccessViolation(0x00401A2B, 0, 0),
         u"モジュール 'Tessel.exe' のアドレス 00401A2B でアドレス 00000000 に対する読み取り違反がおきました。"},
        {"a write in another module", AccessViolation(0x76A1F00D, 1, 0x12345678),
         u"モジュール 'USER32.dll' のアドレス 76A1F00D でアドレス 12345678 に対する書き込み違反がおきました。"},
        {"an execution of free memory names the executable", AccessViolation(0x03000000, 8, 0x03000000),
         u"モジュール 'Tessel.exe' のアドレス 03000000 でアドレス 03000000 に対する実行違反がおきました。"},
        {"another access kind", AccessViolation(0x00401000, 2, 0x10),
         u"モジュール 'Tessel.exe' のアドレス 00401000 でアドレス 00000010 に対するアクセスが無効です違反がおきました。"},
        {"committed memory of no module", AccessViolation(0x02000010, 1, 0x20),
         u"アドレス 02000010 でアドレス 00000020 に対する書き込み違反がおきました。"},
        {"reserved memory", AccessViolation(0x05000000, 0, 0x30),
         u"アドレス 05000000 でアドレス 00000030 に対する読み取り違反がおきました。"},
        {"a record without parameters", Record(0xC0000005, 0x02000010),
         u"アドレス 02000010 でアドレス 00000000 に対するアクセスが無効です違反がおきました。"},
    };
    for (const Case& c : cases) {
        const Exception failure = MapPlatformException(c.Record);
        EXPECT_EQ(Narrow(failure.ClassName()), "EAccessViolation") << c.Why;
        EXPECT_EQ(Narrow(failure.Message()), Narrow(c.Message)) << c.Why;
    }
}

}  // namespace
}  // namespace tessel
