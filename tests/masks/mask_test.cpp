#include "masks/mask.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fixtures.h"
#include "masks/reference_mask.h"
#include "runtime/exception.h"
#include "runtime/text_format.h"

namespace tessel {
namespace {

using namespace std::string_view_literals;

std::u16string Repeat(std::u16string_view piece, int count) {
    std::u16string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// The message names the mask as far as it reaches, up to a U+0000.
std::u16string ExpectedMessage(std::u16string_view mask, int position) {
    return FormatText(u"%1:d 番目の文字（'%0:s'）は正しくないマスク文字です",
                      {mask.substr(0, mask.find(u'\0')), position});
}

// The message of the EMaskException that compiling `mask` raises; empty
// when the mask compiles.
std::u16string CompileError(std::u16string_view mask) {
    try {
        TMask compiled(mask);
    } catch (const EMaskException& error) {
        return error.Message();
    }
    return {};
}

// The invalid-mask message comes from the string table, read through the
// platform.
class MaskTest : public DesktopTest {};

// "*a" 29 times and "*b": 30 starred states, the most a mask may have, and a
// text that makes a search retrying each star's choices run for ever.
const std::u16string ThirtyStars = Repeat(u"*a", 29) + u"*b";
const std::u16string LongAs = Repeat(u"a", 259);
const std::u16string LongAsThenB = Repeat(u"a", 258) + u"b";
const std::u16string ThirtyStarredX = Repeat(u"*x", 30);
const std::u16string ThirtyX = Repeat(u"x", 30);

TEST_F(MaskTest, EdgeCases) {
    struct Case {
        std::u16string_view Mask;
        std::u16string_view Text;
        bool Match;
    };
    const Case cases[] = {
        {u"", u"", true},
        {u"", u"a", false},
        {u"*", u"", true},
        {u"*", u"any text", true},
        {u"a***b", u"axyb", true},
        {u"?", u"x", true},
        {u"?", u"", false},
        {u"?", u"xy", false},
        {u"?", u"\U0001F600", false},
        {u"??", u"\U0001F600", true},
        {u"*?", u"", true},
        {u"a*?b", u"ab", true},
        {u"?*", u"", false},
        {u"?*", u"x", true},
        {u"abc", u"ABC", true},
        {u"abc", u"aBc", true},
        {u"\u00E9", u"\u00C9", false},
        {u"Shell_*TrayWnd", u"Shell_TrayWnd", true},
        {u"Shell_*TrayWnd", u"Shell_SecondaryTrayWnd", true},
        {u"Shell_*TrayWnd", u"shell_traywnd", true},
        {u"Shell_*TrayWnd", u"Shell_TrayWnd2", false},
        {u"Shell_*TrayWnd", u"XShell_TrayWnd", false},
        {u"*ab", u"aab", true},
        {u"a*", u"A", true},
        {u"a*", u"abc", true},
        {u"[a-c]", u"b", true},
        {u"[a-c]", u"B", true},
        {u"[a-c]", u"", false},
        {u"[!a-c]", u"d", true},
        {u"[!a-c]", u"B", false},
        {u"[!a-c]", u"", false},
        {u"a[!b]", u"a", false},
        {u"[0-z]", u"5", true},
        {u"[0-z]", u"q", true},
        {u"[0-z]", u"_", false},
        {u"[0-z]", u"[", false},
        {u"[_-~]", u"~", true},
        {u"[_-~]", u"a", false},
        {u"[_-~]", u"A", false},
        {u"[z-a]", u"Z", true},
        {u"[z-a]", u"y", false},
        {u"[a-c-e]", u"d", true},
        {u"[a-]x]", u"]", true},
        {u"[a-]x]", u"x", true},
        {u"[a-]x]", u"^", false},
        {u"a]b", u"A]B", true},
        {u"!-", u"!-", true},
        {u"[!!]", u"x", true},
        {u"[!!]", u"!", false},
        {u"[[]", u"[", true},
        {u"[*]", u"a", false},
        {u"[?]", u"?", true},
        {u"*\U0001F600", u"x\U0001F600", true},
        {u"*\U0001F600", u"\U0001F600x", false},
        // A pair after a lone high surrogate: the search tries every unit, not every second one.
        {u"*\U0001F600", u"\xD83D\U0001F600", true},
        {u"[\U0001F600a]", u"a", true},
        {u"[\U0001F600a]", u"\xD83D", false},
        // The unit after a surrogate is compared unfolded, whatever it is.
        {u"\xD83D" u"a", u"\xD83D" u"A", false},
        {u"\xDE00*", u"\xDE00*", true},
        {u"\xDE00*", u"\xDE00x", false},
        // A surrogate as the last unit stands for itself alone.
        {u"a\xD83D", u"A\xD83D", true},
        {u"a\xD83D", u"a", false},
        {u"a\xD83D", u"a\U0001F600", false},
        {u"*\xD83D", u"x\xD83D", true},
        // Set members above U+00FF are themselves, not their low 8 bits.
        {u"[あ]", u"あ", true},
        {u"[あ]", u"B", false},
        {u"[!あ]", u"B", true},
        {u"[!あ]", u"あ", false},
        {u"[ぁ-ん]", u"か", true},
        {u"[ぁ-ん]", u"ア", false},
        {u"[\u00FE-\u0101]", u"\u0100", true},
        {u"[\u00FE-\u0101]", u"\u00FF", true},
        {u"[\u00FE-\u0101]", u"\u0001", false},
        {u"[\u00FE-\u0101]", u"\u0102", false},
        // U+0000 ends a mask and a text.
        {u"ab\0cd"sv, u"ab", true},
        {u"ab", u"ab\0cd"sv, true},
        {ThirtyStarredX, ThirtyX, true},
        {ThirtyStars, LongAs, false},
        {ThirtyStars, LongAsThenB, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextMatchesMask(c.Text, c.Mask), c.Match)
            << "mask '" << Narrow(c.Mask) << "', text '" << Narrow(c.Text) << "'";
    }
}

TEST_F(MaskTest, InvalidMasksNameThePosition) {
    struct Case {
        std::u16string_view Mask;
        int Position;
    };
    const std::u16string starMask = Repeat(u"*x", 31);
    const std::u16string endStar = ThirtyStarredX + u"*";
    const std::u16string openAfterStars = starMask + u"[";
    const std::u16string pairAsStar31 = ThirtyStarredX + u"*\U0001F600";
    const std::u16string setAsStar31 = ThirtyStarredX + u"*[ab]";
    const std::u16string setBeforeStars = u"[]" + starMask;
    const Case cases[] = {
        {u"[", 2},
        {u"[]", 2},
        {u"[!", 3},
        {u"[!]", 3},
        {u"[-a]", 2},
        {u"[!-a]", 3},
        {u"[-", 2},
        {u"[abc", 5},
        {u"[a-", 4},
        {u"[a-]", 5},
        {u"[\U0001F600]", 4},
        {u"[\xD83D", 3},
        {u"[a\xD83D]", 5},
        {u"[\U0001F600-a]", 4},
        {u"x[a\0]"sv, 4},
        {starMask, 62},
        {endStar, 62},
        {openAfterStars, 64},
        {pairAsStar31, 63},
        {setAsStar31, 65},
        {setBeforeStars, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompileError(c.Mask), ExpectedMessage(c.Mask, c.Position)) << "mask '" << Narrow(c.Mask) << "'";
    EXPECT_EQ(CompileError(u"[abc"), u"5 番目の文字（'[abc'）は正しくないマスク文字です");
    EXPECT_THROW(TextMatchesMask(u"", u"[abc"), EMaskException);
}

TEST_F(MaskTest, CacheKeepsCompiledMasksAndRaisesForAnInvalidOneEveryTime) {
    TMaskCache cache;
    const TMask& star = cache.Compiled(u"Shell_*TrayWnd");
    EXPECT_EQ(&cache.Compiled(u"Shell_*TrayWnd"), &star) << "compiled once, then reused";
    EXPECT_NE(&cache.Compiled(u"shell_*traywnd"), &star) << "keyed by the exact text";
    EXPECT_TRUE(star.Matches(u"Shell_SecondaryTrayWnd"));
    for (int i = 0; i < 2; ++i) {
        try {
            cache.Compiled(u"[abc");
            ADD_FAILURE() << "no failure at request " << i;
        } catch (const EMaskException& error) {
            EXPECT_EQ(error.Message(), ExpectedMessage(u"[abc", 5)) << "request " << i;
        }
    }
    EXPECT_EQ(&cache.Compiled(u"Shell_*TrayWnd"), &star) << "a failure leaves the kept masks alone";
}

// Small masks and texts of the units that matter, compared with the plain
// backtracking search of the reference on every answer and every fault.
class MaskGenerator {
public:
    std::size_t Pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(FRandom); }

    std::u16string Mask(int maxPieces) {
        static constexpr std::u16string_view Pieces[] = {
            u"a", u"A", u"b", u"z", u"?", u"*", u"*", u"[", u"[", u"]", u"!", u"-", u"_", u"\u00E9", u"あ",
            u"\U0001F600", u"\xD83D", u"\xDE00", u"[a-c]", u"[!b]", u"[!-", u"[\u00FE-\u0101]",
            u"\0"sv,
        };
        return Join(Pieces, maxPieces);
    }

    // One element that compiles on its own, to put after a star.
    std::u16string_view Element() {
        static constexpr std::u16string_view Elements[] = {
            u"a", u"b", u"?", u"", u"]", u"-", u"[a-c]", u"[!b]", u"\U0001F600", u"\xD83D", u"あ",
        };
        return Elements[Pick(std::size(Elements))];
    }

    // Either a text built along the mask, with up to `starPieces` pieces
    // for each star, so that many texts match, or one of random units.
    std::u16string Text(std::u16string_view mask, int starPieces) {
        if (Pick(3) == 0) return Join(TextPieces, 6);
        std::u16string text;
        for (std::size_t i = 0; i < mask.size(); ++i) {
            const char16_t unit = mask[i];
            if (unit == u'*') {
                text += Join(TextPieces, starPieces);
            } else if (unit == u'?') {
                text += TextPieces[Pick(std::size(TextPieces))];
            } else if (unit == u'[') {
                const std::size_t close = mask.find(u']', i + 1);
                text += close == std::u16string_view::npos || Pick(2) == 0 ? TextPieces[Pick(std::size(TextPieces))]
                                                                            : mask.substr(i + 1, 1);
                i = close == std::u16string_view::npos ? mask.size() : close;
            } else if (unit >= 0xD800 && unit <= 0xDFFF && i + 1 < mask.size()) {
                text += mask.substr(i++, 2);
            } else if (unit >= u'a' && unit <= u'z' && Pick(2) == 0) {
                text += static_cast<char16_t>(unit - 32);
            } else {
                text += unit;
            }
        }
        if (!text.empty() && Pick(5) == 0) text.erase(Pick(text.size()), 1);
        return text;
    }

private:
    static constexpr std::u16string_view TextPieces[] = {
        u"a", u"A", u"b", u"B", u"z", u"Z", u"!", u"-", u"]", u"[", u"*", u"?", u"_",
        u"\u00E9", u"\u00C9", u"\u00FF", u"\u0100", u"あ", u"\U0001F600", u"\xD83D", u"\xDE00", u"^",
        u"\0"sv,
    };

    template <std::size_t N>
    std::u16string Join(const std::u16string_view (&pieces)[N], int maxPieces) {
        std::u16string out;
        for (std::size_t n = Pick(static_cast<std::size_t>(maxPieces) + 1); n > 0; --n) out += pieces[Pick(N)];
        return out;
    }

    std::mt19937 FRandom{20240611};
};

// What the compared cases came to, so a test can see that they cover
// invalid masks, matches and misses alike.
struct Outcomes {
    int Invalid = 0, Matched = 0, Missed = 0;
};

// Compares TMask with the reference on one mask and a few texts. Long texts
// against many stars would keep the reference busy for ages, so a test with
// many stars passes few `starPieces`.
::testing::AssertionResult AgreesWithReference(MaskGenerator& generator, const std::u16string& mask, int starPieces,
                                               Outcomes& outcomes) {
    const ReferenceMask reference(mask);
    const std::u16string error = CompileError(mask);
    const std::u16string expected =
        reference.ErrorPosition() == 0 ? u"" : ExpectedMessage(mask, reference.ErrorPosition());
    if (error != expected)
        return ::testing::AssertionFailure() << "mask '" << Narrow(mask) << "': reference position "
                                             << reference.ErrorPosition() << ", TMask raised '"
                                             << Narrow(error) << "'";
    if (!error.empty()) {
        ++outcomes.Invalid;
        return ::testing::AssertionSuccess();
    }
    const TMask compiled(mask);
    for (int i = 0; i < 4; ++i) {
        const std::u16string text = generator.Text(mask, starPieces);
        const bool want = reference.Matches(text);
        const bool got = i == 0 ? TextMatchesMask(text, mask) : compiled.Matches(text);
        if (got != want)
            return ::testing::AssertionFailure() << "mask '" << Narrow(mask) << "', text '" << Narrow(text)
                                                 << "': reference " << want << ", TMask " << got;
        ++(want ? outcomes.Matched : outcomes.Missed);
    }
    return ::testing::AssertionSuccess();
}

TEST_F(MaskTest, AgreesWithBacktrackingSearch) {
    MaskGenerator generator;
    Outcomes outcomes;
    for (int i = 0; i < 30000; ++i) ASSERT_TRUE(AgreesWithReference(generator, generator.Mask(9), 3, outcomes));
    EXPECT_GT(outcomes.Invalid, 1000);
    EXPECT_GT(outcomes.Matched, 10000);
    EXPECT_GT(outcomes.Missed, 10000);
}

// Around the star limit: many stars, with sets and pairs among them.
TEST_F(MaskTest, AgreesWithBacktrackingSearchNearTheStarLimit) {
    MaskGenerator generator;
    Outcomes outcomes;
    for (int i = 0; i < 2000; ++i) {
        std::u16string mask;
        for (std::size_t stars = 27 + generator.Pick(6); stars > 0; --stars) (mask += u"*") += generator.Element();
        mask += generator.Mask(3);
        ASSERT_TRUE(AgreesWithReference(generator, mask, 0, outcomes));
    }
    EXPECT_GT(outcomes.Invalid, 100);
    EXPECT_GT(outcomes.Matched + outcomes.Missed, 1000);
}

}  // namespace
}  // namespace tessel
