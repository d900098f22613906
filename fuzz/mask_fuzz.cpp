// Rules files and window texts are anybody's: any mask must compile or raise
// EMaskException naming the whole mask and the position that the backtracking
// search of the mask tests names, and any text must match as that search
// says. The input is the mask, a line feed, and the text (fuzz_input.h says
// how the bytes become units; F8 0A 00 puts a line feed into the mask).
//
// The backtracking search takes time exponential in the number of stars, so
// it judges the match only where stars and text are few; beyond that the
// compiled mask, the one-shot test and the mask cache must still agree and
// not fail.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "masks/mask.h"
#include "masks/reference_mask.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {
namespace {

// Whether the backtracking search answers within a millisecond or so: it
// tries at most about (text length + stars) choose stars resumptions.
bool ReferenceIsQuick(std::u16string_view mask, std::u16string_view text) {
    const auto stars = std::count(mask.begin(), mask.end(), u'*');
    return (stars <= 4 && text.size() <= 48) || (stars <= 8 && text.size() <= 8);
}

void CheckMask(std::u16string_view mask, std::u16string_view text) {
    const ReferenceMask reference(mask);
    std::unique_ptr<TMask> compiled;
    try {
        compiled = std::make_unique<TMask>(mask);
    } catch (const EMaskException& error) {
        Check(reference.ErrorPosition() != 0, "TMask raised for a mask that the search takes");
        Check(error.Message() ==
                  FormatText(LoadResString(SInvalidMask), {UpToNull(mask), reference.ErrorPosition()}),
              "the invalid-mask message names another position or mask");
        bool raised = false;
        try {
            TextMatchesMask(text, mask);
        } catch (const EMaskException&) {
            raised = true;
        }
        Check(raised, "TextMatchesMask took a mask that TMask refused");
        // A cache keeps no failure: the mask raises at every request.
        TMaskCache cache;
        for (int request = 0; request < 2; ++request) {
            raised = false;
            try {
                cache.Compiled(std::u16string(mask));
            } catch (const EMaskException&) {
                raised = true;
            }
            Check(raised, "the mask cache took a mask that TMask refused");
        }
        return;
    }
    Check(reference.ErrorPosition() == 0, "TMask took a mask that the search refuses");
    const bool matched = compiled->Matches(text);
    Check(compiled->Matches(text) == matched, "matching changed the compiled mask");
    Check(TextMatchesMask(text, mask) == matched, "TextMatchesMask differs from the compiled mask");
    TMaskCache cache;
    const TMask& cached = cache.Compiled(std::u16string(mask));
    Check(&cache.Compiled(std::u16string(mask)) == &cached && cached.Matches(text) == matched,
          "the mask cache compiled the mask again or answers otherwise");
    if (ReferenceIsQuick(mask, UpToNull(text)))
        Check(reference.Matches(text) == matched, "TMask and the backtracking search disagree");
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    Desktop();  // the invalid-mask message comes from the string table
    const std::string_view bytes = AsBytes(data, size);
    const std::size_t split = FindPlainByte(bytes, '\n');
    const std::u16string mask = ReadUnits(bytes.substr(0, split));
    const std::u16string text = split < bytes.size() ? ReadUnits(bytes.substr(split + 1)) : std::u16string();
    CheckMask(mask, text);
    return 0;
}
