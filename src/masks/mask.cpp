#include "masks/mask.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

std::u16string_view UpToNull(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

// One pass of the scan over a mask. While `states` has room for one state
// only, the pass counts the states and writes the first, yet still applies
// every set rule to the whole mask; the star limit is counted only for states
// that are written. So a broken set is reported before too many stars,
// wherever in the mask it stands.
class TMaskScan {
public:
    TMaskScan(std::vector<TMask::TMaskState>& states, std::u16string_view mask) : FStates(states), FMask(mask) {}

    /// Answers the number of states, the end state included.
    int BuildMaskStates() {
        for (FPos = 0; FPos < FMask.size(); ++FPos) {
            const char16_t unit = FMask[FPos];
            if (unit == u'*') {
                FPendingStar = true;
            } else if (unit == u'?') {
                // After a star the question mark adds nothing: the star covers it.
                if (!FPendingStar) AddMaskState(TMask::msAny);
            } else if (unit == u'[') {
                ParseMaskSet();
            } else if (IsSurrogate(unit) && FPos + 1 < FMask.size()) {
                ++FPos;
                AddMaskState(TMask::msMBCSLiteral);
            } else {
                // A surrogate as the very last unit has no partner; it stands
                // for itself alone.
                AddMaskState(TMask::msLiteral);
            }
        }
        AddMaskState(TMask::msLiteral);  // the end state: Unit(FPos) is U+0000
        return static_cast<int>(FIndex);
    }

private:
    char16_t Unit(std::size_t index) const { return index < FMask.size() ? FMask[index] : u'\0'; }

    [[noreturn]] void Invalid(std::size_t position) const {
        Raise<EMaskException>(
            FormatText(LoadResString(SInvalidMask), {FMask, static_cast<std::int64_t>(position)}));
    }

    // Called with FPos on the last unit of the element (past the mask for the
    // end state), which is where a star beyond the limit is reported.
    void AddMaskState(TMask::TMaskStates kind) {
        if (FIndex < FStates.size()) {
            if (FPendingStar && ++FStarred > MaxStarredStates) Invalid(FPos + 1);
            TMask::TMaskState& state = FStates[FIndex];
            state.SkipTo = FPendingStar;
            state.State = kind;
            switch (kind) {
                case TMask::msLiteral: state.Literal = AsciiUpper(Unit(FPos)); break;
                case TMask::msAny: break;
                case TMask::msSet:
                    state.Negate = FNegate;
                    FMembers.Compact();
                    state.CharSet = std::make_unique<TMask::TMaskSet>(FMembers);
                    break;
                case TMask::msMBCSLiteral:
                    state.LeadByte = FMask[FPos - 1];
                    state.TrailByte = FMask[FPos];
                    break;
            }
        }
        ++FIndex;
        FPendingStar = false;
        FNegate = false;
        FMembers = {};
    }

    // Entered on the opening bracket; leaves FPos on the closing one.
    void ParseMaskSet() {
        ++FPos;
        if (Unit(FPos) == u'!') {
            FNegate = true;
            ++FPos;
        }
        bool haveLast = false;
        char16_t last = 0;
        while (FPos < FMask.size() && FMask[FPos] != u']') {
            const char16_t unit = FMask[FPos];
            if (IsSurrogate(unit)) {
                // A pair names no member; its second unit goes with it,
                // even when that unit is a closing bracket.
                FPos += 2;
                continue;
            }
            if (unit == u'-') {
                if (!haveLast) Invalid(FPos + 1);
                if (++FPos >= FMask.size()) break;
                // A range leaves `last` as it was: a later hyphen starts from it again.
                FMembers.Include(last, AsciiUpper(FMask[FPos]));
            } else {
                last = AsciiUpper(unit);
                haveLast = true;
                FMembers.Include(last, last);
            }
            ++FPos;
        }
        if (FPos >= FMask.size()) Invalid(FMask.size() + 1);
        if (FMembers.Empty()) Invalid(FPos + 1);
        AddMaskState(TMask::msSet);
    }

    std::vector<TMask::TMaskState>& FStates;
    std::u16string_view FMask;
    std::size_t FPos = 0;
    std::size_t FIndex = 0;
    int FStarred = 0;
    bool FPendingStar = false;
    bool FNegate = false;
    TMask::TMaskSet FMembers;
};

// Whether `state` covers the units from `position` on; the caller makes sure
// that all the units it tests lie inside the text.
bool StateMatchesAt(const TMask::TMaskState& state, std::u16string_view text, std::size_t position) {
    const char16_t unit = text[position];
    switch (state.State) {
        case TMask::msLiteral: return AsciiUpper(unit) == state.Literal;
        case TMask::msAny: return true;
        case TMask::msSet: return state.CharSet->Contains(AsciiUpper(unit)) != state.Negate;
        case TMask::msMBCSLiteral: return unit == state.LeadByte && text[position + 1] == state.TrailByte;
    }
    return false;
}

}  // namespace

void TMask::TMaskSet::Include(char16_t First, char16_t Last) {
    if (Last < First) return;
    for (unsigned unit = First; unit <= Last && unit <= 0xFF; ++unit) FLow.set(unit);
    if (Last > 0xFF) FHigh.emplace_back(std::max(First, char16_t{0x100}), Last);
}

void TMask::TMaskSet::Compact() {
    if (FHigh.empty()) return;
    std::sort(FHigh.begin(), FHigh.end());
    std::size_t kept = 0;
    for (std::size_t i = 1; i < FHigh.size(); ++i) {
        if (FHigh[i].first <= FHigh[kept].second + 1)
            FHigh[kept].second = std::max(FHigh[kept].second, FHigh[i].second);
        else
            FHigh[++kept] = FHigh[i];
    }
    FHigh.resize(kept + 1);
}

bool TMask::TMaskSet::Contains(char16_t CodeUnit) const {
    if (CodeUnit <= 0xFF) return FLow[CodeUnit];
    const auto after = std::upper_bound(FHigh.begin(), FHigh.end(), CodeUnit,
                                        [](char16_t unit, const auto& range) { return unit < range.first; });
    return after != FHigh.begin() && CodeUnit <= std::prev(after)->second;
}

TMask::TMask(std::u16string_view MaskValue) {
    const std::u16string_view mask = UpToNull(MaskValue);
    FMaskStates.resize(1);
    const int count = BuildMaskStates(mask);
    ReleaseMaskSets();
    FMaskStates.resize(static_cast<std::size_t>(count));
    BuildMaskStates(mask);
}

int TMask::BuildMaskStates(std::u16string_view Mask) { return TMaskScan(FMaskStates, Mask).BuildMaskStates(); }

void TMask::ReleaseMaskSets() {
    for (TMaskState& state : FMaskStates) state.CharSet.reset();
}

bool TMask::Matches(std::u16string_view Filename) const { return RunMaskStates(UpToNull(Filename)); }

// Every way through the states at once: reach[p] tells whether the states so
// far can cover exactly the first p units of the text. A star makes every
// position from the first reachable one on reachable. Trying each star's
// alternatives one after another would give the same answers, but can take
// time exponential in the number of stars. Only the positions from `low` to
// `high` can be reachable, so a mask without stars tests a unit or two per
// state instead of the whole text: the common case for a rule's masks, which
// a pass tests against every window.
bool TMask::RunMaskStates(std::u16string_view Text) const {
    const std::size_t length = Text.size();
    // Window texts are at most 259 units, so their positions fit on the stack.
    std::array<unsigned char, 260> local;
    std::vector<unsigned char> large;
    unsigned char* reach = local.data();
    if (length >= local.size()) {
        large.resize(length + 1);
        reach = large.data();
    }
    reach[0] = 1;
    std::size_t low = 0;
    std::size_t high = 0;
    for (std::size_t i = 0; i + 1 < FMaskStates.size(); ++i) {
        const TMaskState& state = FMaskStates[i];
        if (state.SkipTo) {
            std::fill(reach + low, reach + length + 1, 1);
            high = length;
        }
        const std::size_t width = state.State == msMBCSLiteral ? 2 : 1;
        if (low + width > length) return false;
        // Downwards, so that reach[p - width] is still the value before this state.
        bool any = false;
        std::size_t newLow = 0;
        std::size_t newHigh = 0;
        for (std::size_t p = std::min(high + width, length); p >= low + width; --p) {
            const bool covered = reach[p - width] && StateMatchesAt(state, Text, p - width);
            reach[p] = covered;
            if (covered) {
                if (!any) newHigh = p;
                newLow = p;
                any = true;
            }
        }
        if (!any) return false;
        low = newLow;
        high = newHigh;
    }
    // Only the end state is left; it covers the end of the text alone.
    return FMaskStates.back().SkipTo || (high == length && reach[length]);
}

bool TextMatchesMask(std::u16string_view Text, std::u16string_view Mask) { return TMask(Mask).Matches(Text); }

// The mask is built inside the map's node; when its constructor raises, the
// node goes again and the map stays as it was.
const TMask& TMaskCache::Compiled(std::u16string_view Mask) {
    const auto found = FMasks.find(Mask);
    if (found != FMasks.end()) return found->second;
    return FMasks.try_emplace(std::u16string(Mask), Mask).first->second;
}

}  // namespace tessel
