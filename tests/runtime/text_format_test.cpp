#include "runtime/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "fixtures.h"

namespace tessel {
namespace {

const void* Address(std::uintptr_t value) { return reinterpret_cast<const void*>(value); }

TEST(FormatTextTest, ExpandsPlaceholders) {
    struct Case {
        std::u16string_view Pattern;
        std::initializer_list<FormatArg> Args;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {u"no placeholders", {}, u"no placeholders"},
        {u"<%s>", {u"text"}, u"<text>"},
        {u"<%s>", {u""}, u"<>"},
        {u"%d", {42}, u"42"},
        {u"%d", {0}, u"0"},
        {u"%d", {-7}, u"-7"},
        {u"%d", {std::numeric_limits<std::int64_t>::min()}, u"-9223372036854775808"},
        {u"%d", {4294967295u}, u"4294967295"},
        {u"%p", {Address(0x401A2B)}, u"00401A2B"},
        {u"%p", {Address(0)}, u"00000000"},
        {u"%p", {Address(0xFFFFFFFF)}, u"FFFFFFFF"},
        {u"%x", {0xC06D007Eu}, u"C06D007E"},
        {u"%x", {0}, u"0"},
        {u"%x", {0x1Fu}, u"1F"},
        {u"%s %d %x", {u"a", 10, 10}, u"a 10 A"},
        // %N: takes argument N, and a plain placeholder after it takes N + 1.
        {u"%1:d 番目の文字（'%0:s'）は正しくないマスク文字です", {u"[abc", 5},
         u"5 番目の文字（'[abc'）は正しくないマスク文字です"},
        {u"%1:s%0:s%1:s", {u"a", u"b"}, u"bab"},
        {u"%0:s %s", {u"a", u"b"}, u"a b"},
        {u"%0:p %2:p %1:s", {Address(0x10), u"read", Address(0x20)}, u"00000010 00000020 read"},
        {u"%10:d", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, u"10"},
        {u"100%%", {}, u"100%"},
        {u"%%s", {u"x"}, u"%s"},
        // Anything else stays as it stands.
        {u"100%", {}, u"100%"},
        {u"%q", {u"x"}, u"%q"},
        {u"%s", {}, u"%s"},
        {u"%s and %s", {u"one"}, u"one and %s"},
        {u"%1:s %s", {u"a", u"b"}, u"b %s"},
        {u"%2:d", {1, 2}, u"%2:d"},
        {u"%d", {u"text"}, u"%d"},
        {u"%s", {5}, u"%s"},
        {u"%0:", {1}, u"%0:"},
        {u"%5d", {1}, u"%5d"},
        {u"%99999999999999999999:d", {1}, u"%99999999999999999999:d"},
        // An argument's own text is not expanded again.
        {u"%s%d", {u"%d", 3}, u"%d3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.Pattern, c.Args), c.Expected) << "pattern '" << Narrow(c.Pattern) << "'";
    }
}

}  // namespace
}  // namespace tessel
