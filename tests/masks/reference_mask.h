#pragma once
// A plain transcription of the mask rules, for the tests only: the two-pass
// compile and the backtracking search with its 30-entry stack, step by step
// as the rules state them. The search takes time exponential in the number
// of stars, so it serves as the yardstick for small masks and texts, against
// which the product's matcher is compared.
#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel {

/// Compiling a mask and matching one text: the 1-based position of the fault
/// of an invalid mask (0 for a valid one), else the answer.
struct ReferenceOutcome {
    int ErrorPosition = 0;
    bool Match = false;
};

class ReferenceMask {
public:
    explicit ReferenceMask(std::u16string_view mask) : FMask(mask.substr(0, mask.find(u'\0'))) {
        try {
            Compile(false);
            Compile(true);
        } catch (const Fault& fault) {
            FErrorPosition = fault.Position;
            FStates.clear();
        }
    }

    int ErrorPosition() const { return FErrorPosition; }

    bool Matches(std::u16string_view text) const {
        // Kept as a string so that text[text.size()] is the terminating U+0000.
        const std::u16string t(text.substr(0, text.find(u'\0')));
        std::array<TStackRec, StackSize> stack{};
        std::size_t depth = 0;
        std::size_t position = 0;
        std::size_t start = 0;
        for (;;) {
            if (TryFromState(t, position, start, stack, depth)) return true;
            if (depth == 0) return false;
            --depth;
            position = stack[depth].sP;
            start = stack[depth].sI;
        }
    }

private:
    static constexpr std::size_t StackSize = 30;
    enum Kind { Literal, Any, Set, MBCSLiteral };

    struct State {
        bool SkipTo = false;
        Kind Is = Literal;
        char16_t Unit = 0;  // Literal: folded; MBCSLiteral: the lead unit
        char16_t Trail = 0;
        bool Negate = false;
        std::vector<std::pair<char16_t, char16_t>> Ranges;  // a single member is a range of one
    };
    struct TStackRec {
        std::size_t sP;
        std::size_t sI;
    };
    struct Fault {
        int Position;
    };

    static char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }
    static bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

    char16_t At(std::size_t i) const { return i < FMask.size() ? FMask[i] : u'\0'; }

    // The first pass applies the set rules only; the second builds the
    // states and counts the starred ones.
    void Compile(bool build) {
        FStates.clear();
        int starred = 0;
        bool star = false;
        auto add = [&](State state, std::size_t last) {
            if (build && star && ++starred > static_cast<int>(StackSize)) throw Fault{static_cast<int>(last) + 1};
            state.SkipTo = star;
            FStates.push_back(std::move(state));
            star = false;
        };
        std::size_t i = 0;
        for (; i < FMask.size(); ++i) {
            const char16_t c = FMask[i];
            State state;
            if (c == u'*') {
                star = true;
            } else if (c == u'?') {
                state.Is = Any;
                if (!star) add(state, i);
            } else if (c == u'[') {
                state.Is = Set;
                i = ReadSet(i, state);
                add(std::move(state), i);
            } else if (IsSurrogate(c) && i + 1 < FMask.size()) {
                state.Is = MBCSLiteral;
                state.Unit = c;
                state.Trail = FMask[i + 1];
                ++i;
                add(state, i);
            } else {
                state.Unit = Fold(c);
                add(state, i);
            }
        }
        add(State{}, i);
    }

    // Reads the set opened at `open`; answers the index of its closing bracket.
    std::size_t ReadSet(std::size_t open, State& state) const {
        std::size_t i = open + 1;
        if (At(i) == u'!') {
            state.Negate = true;
            ++i;
        }
        bool haveLast = false;
        char16_t last = 0;
        while (i < FMask.size() && FMask[i] != u']') {
            if (IsSurrogate(FMask[i])) {
                i += 2;
                continue;
            }
            if (FMask[i] == u'-') {
                if (!haveLast) throw Fault{static_cast<int>(i) + 1};
                ++i;
                if (i == FMask.size()) break;
                if (Fold(FMask[i]) >= last) state.Ranges.emplace_back(last, Fold(FMask[i]));
            } else {
                last = Fold(FMask[i]);
                haveLast = true;
                state.Ranges.emplace_back(last, last);
            }
            ++i;
        }
        if (i >= FMask.size()) throw Fault{static_cast<int>(FMask.size()) + 1};
        if (state.Ranges.empty()) throw Fault{static_cast<int>(i) + 1};
        return i;
    }

    // The test of one state at `p`; t[t.size()] is U+0000, so the end state
    // (a literal U+0000) passes at the end of the text only.
    static bool Test(const State& s, const std::u16string& t, std::size_t p) {
        switch (s.Is) {
            case Literal: return Fold(t[p]) == s.Unit;
            case Any: return p < t.size();
            case Set: {
                if (p >= t.size()) return false;
                bool member = false;
                for (const auto& [low, high] : s.Ranges) member = member || (Fold(t[p]) >= low && Fold(t[p]) <= high);
                return member != s.Negate;
            }
            case MBCSLiteral: return t[p] == s.Unit && t[p + 1] == s.Trail;
        }
        return false;
    }

    bool TryFromState(const std::u16string& t, std::size_t p, std::size_t start,
                      std::array<TStackRec, StackSize>& stack, std::size_t& depth) const {
        for (std::size_t i = start; i < FStates.size(); ++i) {
            const State& s = FStates[i];
            if (s.SkipTo) {
                while (p < t.size() && !Test(s, t, p)) ++p;
                if (p < t.size()) {
                    if (depth == StackSize) throw std::logic_error("mask search stack overflow");
                    stack[depth++] = {p + 1, i};
                }
            }
            if (!Test(s, t, p)) return false;
            p += s.Is == MBCSLiteral ? 2 : 1;
        }
        return true;
    }

    std::u16string FMask;
    std::vector<State> FStates;
    int FErrorPosition = 0;
};

/// The one-shot form: compiles `mask` and, when it is valid, matches `text`.
inline ReferenceOutcome ReferenceTextMatchesMask(std::u16string_view text, std::u16string_view mask) {
    const ReferenceMask reference(mask);
    if (reference.ErrorPosition() != 0) return {reference.ErrorPosition(), false};
    return {0, reference.Matches(text)};
}

}  // namespace tessel
