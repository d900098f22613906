#pragma once
// Wildcard masks over UTF-16 texts: * covers any run of code units, ? one
// unit, [...] a set of units, and every other unit stands for itself, with
// the ASCII letters a to z equal to A to Z. A mask always covers a whole
// text. Mask and text both end at their first U+0000.
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessel {

/// The largest number of states after a star that one mask may compile to.
constexpr int MaxStarredStates = 30;

/// Folds a to z onto A to Z; every other code unit is returned unchanged.
constexpr char16_t AsciiUpper(char16_t CodeUnit) {
    return CodeUnit >= u'a' && CodeUnit <= u'z' ? static_cast<char16_t>(CodeUnit - 32) : CodeUnit;
}

class TMask {
public:
    enum TMaskStates : std::uint8_t { msLiteral, msAny, msSet, msMBCSLiteral };

    /// The members of one set. Every code unit stands for itself: U+0000 to
    /// U+00FF are one bit each, higher values sorted, disjoint ranges, so a
    /// set of a few CJK letters stays small.
    class TMaskSet {
    public:
        /// Adds first..last, both included; nothing when last < first.
        void Include(char16_t First, char16_t Last);
        /// Sorts and merges the ranges above U+00FF, once, after the last
        /// Include: sorting at every Include would make a set of many
        /// members cost time quadratic in their number. Contains needs it.
        void Compact();
        bool Contains(char16_t CodeUnit) const;
        bool Empty() const { return FLow.none() && FHigh.empty(); }

    private:
        std::bitset<256> FLow;
        std::vector<std::pair<char16_t, char16_t>> FHigh;
    };

    struct TMaskState {
        bool SkipTo = false;  // one or more stars stood before this element
        TMaskStates State = msLiteral;
        char16_t Literal = 0;  // msLiteral, folded; U+0000 is the end state
        bool Negate = false;   // msSet
        std::unique_ptr<TMaskSet> CharSet;  // msSet, owned by this state
        char16_t LeadByte = 0;   // msMBCSLiteral, unfolded
        char16_t TrailByte = 0;  // msMBCSLiteral, unfolded
    };

    /// Compiles MaskValue. An invalid mask raises EMaskException whose
    /// message names the whole mask and the 1-based position of the fault.
    explicit TMask(std::u16string_view MaskValue);
    TMask(const TMask&) = delete;
    TMask& operator=(const TMask&) = delete;

    /// Whether the mask covers all of Filename (any text). Never fails, and
    /// takes time proportional to the text length times the state count.
    bool Matches(std::u16string_view Filename) const;

private:
    int BuildMaskStates(std::u16string_view Mask);
    void ReleaseMaskSets();
    bool RunMaskStates(std::u16string_view Text) const;

    std::vector<TMaskState> FMaskStates;
};

/// Compiles Mask for this one call and matches Text against it; an invalid
/// mask raises EMaskException.
bool TextMatchesMask(std::u16string_view Text, std::u16string_view Mask);

/// Masks compiled on first request and kept by their text, for masks that
/// are tested again and again: the rules' masks against every window.
class TMaskCache {
public:
    /// The compiled Mask. An invalid mask raises EMaskException at every
    /// request, as TextMatchesMask would: only a compiled mask is kept.
    const TMask& Compiled(std::u16string_view Mask);

private:
    // Found by a view of the text, so that a request for a kept mask copies
    // nothing.
    struct TTextHash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view Text) const { return std::hash<std::u16string_view>{}(Text); }
    };
    std::unordered_map<std::u16string, TMask, TTextHash, std::equal_to<>> FMasks;
};

}  // namespace tessel
