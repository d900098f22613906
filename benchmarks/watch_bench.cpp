// Watch mode over 1,000 changes on the simulated desktop, each followed by
// its pass once the desktop has been still: the watcher's loop, its plan and
// the same pass a plain run makes, over 200 windows of which one is put off
// screen by every change and moved back by its pass.
//
// Figures besides the time per change (with its pass):
//   handles_first  the watcher's handles after its first pass: its window,
//                  timer, session notice and mutex, as the simulated
//                  desktop counts them
//   handles_last   the same after the 1,000th change's pass
//   heap_growth    bytes of heap in use after the last pass less after the
//                  first (the simulated desktop's own records are cleared
//                  at every change, so the figure is the watcher's)
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <functional>

#include "main/tessel.h"
#include "main/watch_mode.h"
#include "platform/sim/simulated_desktop.h"

namespace tessel {
namespace {

constexpr int Changes = 1000;
constexpr std::uint64_t Apart = SettleMs + 1000;

std::size_t WatcherHandles(const SimulatedDesktop& desktop) {
    std::size_t windows = 0;
    for (const SimWindow& window : desktop.Windows) windows += window.ClassName == WatcherClassName;
    return windows + desktop.Timers.size() + desktop.SessionNotifications.size() + desktop.Mutexes.size();
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_WatchChanges(benchmark::State& state) {
    std::size_t handlesFirst = 0, handlesLast = 0, heapFirst = 0, heapLast = 0;
    for (auto _ : state) {
        SimulatedDesktop desktop;
        ScopedPlatform scope(desktop);
        desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}});
        desktop.CommandLine = u"Tessel.exe -w";
        for (int i = 0; i < 200; ++i)
            desktop.AddWindow({.ClassName = u"AppWindow", .Title = u"window", .Frame = {100, 100, 500, 400},
                               .Visible = i % 2 == 0});
        const WindowHandle moved = desktop.Windows.front().Handle;
        // Each change posts the next one, so that no more than one waits.
        int change = 0;
        std::function<void()> next = [&] {
            // The simulated desktop's records of what it was asked grow with
            // every pass; they are not the watcher's memory.
            desktop.Moves.clear();
            desktop.PassTimes.clear();
            desktop.EnumerationCallbacks.clear();
            desktop.AppBarMessages.clear();
            desktop.Pings.clear();
            if (++change == 1) handlesFirst = WatcherHandles(desktop), heapFirst = HeapInUse();
            if (change == Changes + 1) {
                handlesLast = WatcherHandles(desktop), heapLast = HeapInUse();
                return;
            }
            desktop.Window(moved).Frame = {1800, 100, 2200, 400};
            desktop.PostChange({(change + 1) * Apart, WM_DISPLAYCHANGE, 0, 0, next});
        };
        desktop.PostChange({Apart, WM_DISPLAYCHANGE, 0, 0, next});
        desktop.SessionEnd = (Changes + 1) * Apart;
        MainBlock();
    }
    state.counters["handles_first"] = static_cast<double>(handlesFirst);
    state.counters["handles_last"] = static_cast<double>(handlesLast);
    state.counters["heap_growth"] = static_cast<double>(heapLast) - static_cast<double>(heapFirst);
    state.counters["per_change"] =
        benchmark::Counter(static_cast<double>(Changes) * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_WatchChanges)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessel

BENCHMARK_MAIN();
