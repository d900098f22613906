// Cost of one mask test as the exemption test pays it: compile and match on
// every call. glibc's fnmatch on the same pairs gives a point of comparison.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <string>

#include "masks/mask.h"

namespace tessel {
namespace {

struct MaskPair {
    std::u16string Mask, Text;
    std::string AsciiMask, AsciiText;  // the same pair for fnmatch
};

const MaskPair TrayClass{u"Shell_*TrayWnd", u"Shell_TrayWnd", "Shell_*TrayWnd", "Shell_TrayWnd"};
const MaskPair NotepadTitle{u"*Notepad", u"Quarterly sales report of the regional offices.txt - Notepad", "*Notepad",
                            "Quarterly sales report of the regional offices.txt - Notepad"};
const MaskPair SetClass{u"[A-Z]*[!0-9]", u"Shell_SecondaryTrayWnd", "[A-Z]*[!0-9]", "Shell_SecondaryTrayWnd"};

std::u16string Repeat(std::u16string_view piece, int count) {
    std::u16string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// 30 starred states, the most a mask may have, and a 259-unit title that
// almost fits: each star has many places to try.
const std::u16string WorstMask = Repeat(u"*a", 29) + u"*b";
const std::u16string WorstText = Repeat(u"a", 259);

void BM_TextMatchesMask(benchmark::State& state, const MaskPair& pair) {
    for (auto _ : state) benchmark::DoNotOptimize(TextMatchesMask(pair.Text, pair.Mask));
}

void BM_Fnmatch(benchmark::State& state, const MaskPair& pair) {
    for (auto _ : state)
        benchmark::DoNotOptimize(fnmatch(pair.AsciiMask.c_str(), pair.AsciiText.c_str(), FNM_CASEFOLD));
}

void BM_TextMatchesMaskWorstCase(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(TextMatchesMask(WorstText, WorstMask));
}

void BM_MatchesCompiledWorstCase(benchmark::State& state) {
    const TMask mask(WorstMask);
    for (auto _ : state) benchmark::DoNotOptimize(mask.Matches(WorstText));
}

BENCHMARK_CAPTURE(BM_TextMatchesMask, tray_class, TrayClass);
BENCHMARK_CAPTURE(BM_TextMatchesMask, notepad_title, NotepadTitle);
BENCHMARK_CAPTURE(BM_TextMatchesMask, set_class, SetClass);
BENCHMARK(BM_TextMatchesMaskWorstCase);
BENCHMARK(BM_MatchesCompiledWorstCase);
BENCHMARK_CAPTURE(BM_Fnmatch, tray_class, TrayClass);
BENCHMARK_CAPTURE(BM_Fnmatch, notepad_title, NotepadTitle);
BENCHMARK_CAPTURE(BM_Fnmatch, set_class, SetClass);

}  // namespace
}  // namespace tessel

BENCHMARK_MAIN();
