// Loading one rules file with LoadFromFile, as an E option does: open, one
// read, one decoding and the cut into rules. Files of 1 KB, 1 MB and 50 MB
// of typical rule lines, without a mark (the ANSI code page, 1252 here) and
// as UTF-8 with its mark. The decoding is the simulated platform's (iconv
// and a plain UTF-8 decoder), not Windows' own.
//
// Figures: the time per load, bytes_per_second, rules (the lines cut), and
// decode_share, the part of a load spent in the simulated platform's
// decoding, which on Windows is its own, faster conversion.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/simulated_desktop.h"
#include "rules/encoding.h"
#include "rules/string_list.h"

namespace tessel {
namespace {

// Removes the files with the folder when the program ends.
class BenchFiles {
public:
    BenchFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) FDirectory = pattern;
    }
    ~BenchFiles() {
        std::error_code ignored;
        if (!FDirectory.empty()) std::filesystem::remove_all(FDirectory, ignored);
    }
    BenchFiles(const BenchFiles&) = delete;
    BenchFiles& operator=(const BenchFiles&) = delete;

    /// A file of about `size` bytes of rule lines, made on first use.
    std::u16string File(std::int64_t size, bool utf8) {
        const std::string name = std::to_string(size) + (utf8 ? "-utf8.txt" : "-ansi.txt");
        const std::filesystem::path path = FDirectory / name;
        if (!std::filesystem::exists(path)) {
            std::string text = utf8 ? "\xEF\xBB\xBF" : "";
            for (int i = 0; static_cast<std::int64_t>(text.size()) < size; ++i) {
                const std::string n = std::to_string(i);
                switch (i % 3) {
                    case 0: text += "*Quarterly figures " + n + ".xlsx - Spreadsheet=XLMAIN\r\n"; break;
                    case 1: text += "=App" + n + "Frame\r\n"; break;
                    default:
                        text += utf8 ? "*\xE3\x83\xA1\xE3\x83\xA2\xE5\xB8\xB3 " + n + "=Notepad\r\n"
                                     : "*Caf\xE9 menu " + n + "=[A-Z]*Window\r\n";
                        break;
                }
            }
            // Cut after the last whole line, so that no UTF-8 sequence is
            // broken, and fill up to the size with one ASCII line.
            text.resize(static_cast<std::size_t>(size));
            const std::size_t end = text.rfind("\r\n") + 2;
            text.replace(end, std::string::npos, text.size() - end, 'x');
            std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        const std::string full = path.string();
        return {full.begin(), full.end()};
    }

private:
    std::filesystem::path FDirectory;
};

BenchFiles& Files() {
    static BenchFiles files;
    return files;
}

// Seconds of the two conversions that one load asks of the platform (the
// count, then the characters), on the bytes after the mark.
double DecodingSeconds(SimulatedDesktop& desktop, const std::u16string& name, bool utf8) {
    std::ifstream file(std::string(name.begin(), name.end()), std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (utf8) bytes.erase(bytes.begin(), bytes.begin() + 3);
    const std::uint32_t codePage = utf8 ? CP_UTF8 : desktop.AnsiCodePage;
    const std::uint32_t flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
    const int count = static_cast<int>(bytes.size());
    const auto start = std::chrono::steady_clock::now();
    std::chrono::duration<double> elapsed{};
    int runs = 0;
    do {
        const int length = desktop.MultiByteToWideChar(codePage, flags, bytes.data(), count, nullptr, 0);
        std::u16string text(static_cast<std::size_t>(length), u'\0');
        desktop.MultiByteToWideChar(codePage, flags, bytes.data(), count, text.data(), length);
        benchmark::DoNotOptimize(text.data());
        ++runs;
        elapsed = std::chrono::steady_clock::now() - start;
    } while (elapsed.count() < 0.05);
    return elapsed.count() / runs;
}

void BM_LoadFromFile(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const bool utf8 = state.range(1) != 0;
    const std::u16string name = Files().File(size, utf8);
    SimulatedDesktop desktop;
    ScopedPlatform scope(desktop);
    TEncoding::FreeInstances();
    int rules = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        TStringList list;
        list.LoadFromFile(name);
        rules = list.Count();
    }
    const std::chrono::duration<double> load = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["rules"] = rules;
    state.counters["decode_share"] =
        DecodingSeconds(desktop, name, utf8) / (load.count() / static_cast<double>(state.iterations()));
    TEncoding::FreeInstances();
}

BENCHMARK(BM_LoadFromFile)
    ->ArgNames({"bytes", "utf8"})
    ->ArgsProduct({{1 << 10, 1 << 20, 50 << 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessel

BENCHMARK_MAIN();
