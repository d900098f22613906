// One full pass over a crowded simulated desktop: 10, 1,000 and 10,000
// top-level windows against 1, 100 and 1,000 rules. No window but the
// taskbars is exempt, so every other window is tested against every rule,
// which is the most a pass can cost; one visible window in ten sticks out
// of the work area and is moved in every pass (its moves fail, so each pass
// finds the desktop as the one before).
//
// Figures besides the time of a pass:
//   per_test       time of the pass over windows x rules: flat when the cost
//                  grows linearly in windows times rules
//   mask_share     part of the pass spent finding the compiled masks and
//                  matching them
//   platform_share part spent in the simulated platform calls
// The rest is the pass's own work: splitting each rule into its two masks,
// the text buffers, the geometry. Both shares are measured by replaying
// that part of the pass on its own: the same mask tests in the same order,
// and the very platform calls a recorded pass made.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "main/tessel.h"
#include "main/window_pass.h"
#include "masks/mask.h"
#include "platform/sim/simulated_desktop.h"
#include "rules/string_list.h"
#include "runtime/version.h"

namespace tessel {
namespace {

// The calls a pass makes, recorded with their arguments so that they can be
// made again without the pass around them.
struct RecordedCall {
    enum Kind : std::uint8_t {
        Enumerate, Text, Class, Visible, Iconic, Monitor, MonitorInformation, Ancestor, DesktopWindow, WindowRect,
        Move, CompositionQuery, FrameQuery
    } What;
    std::uintptr_t Handle = 0;  // window, or monitor for MonitorInformation
    std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
};

class RecordingDesktop : public SimulatedDesktop {
public:
    bool Recording = false;
    std::vector<RecordedCall> Calls;

    bool EnumWindows(EnumWindowsProc proc, std::intptr_t param) override {
        Note({RecordedCall::Enumerate});
        return SimulatedDesktop::EnumWindows(proc, param);
    }
    int GetWindowTextW(WindowHandle window, char16_t* buffer, int size) override {
        Note({RecordedCall::Text, window});
        return SimulatedDesktop::GetWindowTextW(window, buffer, size);
    }
    int GetClassNameW(WindowHandle window, char16_t* buffer, int size) override {
        Note({RecordedCall::Class, window});
        return SimulatedDesktop::GetClassNameW(window, buffer, size);
    }
    bool IsWindowVisible(WindowHandle window) override {
        Note({RecordedCall::Visible, window});
        return SimulatedDesktop::IsWindowVisible(window);
    }
    bool IsIconic(WindowHandle window) override {
        Note({RecordedCall::Iconic, window});
        return SimulatedDesktop::IsIconic(window);
    }
    MonitorHandle MonitorFromWindow(WindowHandle window, std::uint32_t flags) override {
        Note({RecordedCall::Monitor, window});
        return SimulatedDesktop::MonitorFromWindow(window, flags);
    }
    bool GetMonitorInfoW(MonitorHandle monitor, MonitorInfo* info) override {
        Note({RecordedCall::MonitorInformation, monitor});
        return SimulatedDesktop::GetMonitorInfoW(monitor, info);
    }
    WindowHandle GetAncestor(WindowHandle window, std::uint32_t flags) override {
        Note({RecordedCall::Ancestor, window});
        return SimulatedDesktop::GetAncestor(window, flags);
    }
    WindowHandle GetDesktopWindow() override {
        Note({RecordedCall::DesktopWindow});
        return SimulatedDesktop::GetDesktopWindow();
    }
    bool GetWindowRect(WindowHandle window, Rect* rect) override {
        Note({RecordedCall::WindowRect, window});
        return SimulatedDesktop::GetWindowRect(window, rect);
    }
    bool MoveWindow(WindowHandle window, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                    bool repaint) override {
        Note({RecordedCall::Move, window, x, y, width, height});
        return SimulatedDesktop::MoveWindow(window, x, y, width, height, repaint);
    }
    HResult DwmIsCompositionEnabled(std::int32_t* enabled) override {
        Note({RecordedCall::CompositionQuery});
        return SimulatedDesktop::DwmIsCompositionEnabled(enabled);
    }
    HResult DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, void* value,
                                  std::uint32_t size) override {
        Note({RecordedCall::FrameQuery, window});
        return SimulatedDesktop::DwmGetWindowAttribute(window, attribute, value, size);
    }

    /// Makes the recorded calls again, straight on the simulated desktop.
    void Replay() {
        char16_t text[260];
        Rect rect;
        MonitorInfo info;
        info.cbSize = MonitorInfoSize;
        std::int32_t enabled = 0;
        for (const RecordedCall& call : Calls) {
            switch (call.What) {
                case RecordedCall::Enumerate:
                    SimulatedDesktop::EnumWindows([](WindowHandle, std::intptr_t) { return true; }, 0);
                    break;
                case RecordedCall::Text: SimulatedDesktop::GetWindowTextW(call.Handle, text, 260); break;
                case RecordedCall::Class: SimulatedDesktop::GetClassNameW(call.Handle, text, 260); break;
                case RecordedCall::Visible: SimulatedDesktop::IsWindowVisible(call.Handle); break;
                case RecordedCall::Iconic: SimulatedDesktop::IsIconic(call.Handle); break;
                case RecordedCall::Monitor:
                    SimulatedDesktop::MonitorFromWindow(call.Handle, MONITOR_DEFAULTTONEAREST);
                    break;
                case RecordedCall::MonitorInformation: SimulatedDesktop::GetMonitorInfoW(call.Handle, &info); break;
                case RecordedCall::Ancestor: SimulatedDesktop::GetAncestor(call.Handle, GA_PARENT); break;
                case RecordedCall::DesktopWindow: SimulatedDesktop::GetDesktopWindow(); break;
                case RecordedCall::WindowRect: SimulatedDesktop::GetWindowRect(call.Handle, &rect); break;
                case RecordedCall::Move:
                    SimulatedDesktop::MoveWindow(call.Handle, call.X, call.Y, call.Width, call.Height, true);
                    break;
                case RecordedCall::CompositionQuery: SimulatedDesktop::DwmIsCompositionEnabled(&enabled); break;
                case RecordedCall::FrameQuery:
                    SimulatedDesktop::DwmGetWindowAttribute(call.Handle, DWMWA_EXTENDED_FRAME_BOUNDS, &rect,
                                                            sizeof(Rect));
                    break;
            }
        }
        benchmark::DoNotOptimize(text);
        Moves.clear();
    }

private:
    void Note(RecordedCall call) {
        if (Recording) Calls.push_back(call);
    }
};

const char16_t* const Classes[] = {
    u"Chrome_WidgetWin_1", u"Notepad",    u"CabinetWClass", u"ConsoleWindowClass", u"MozillaWindowClass",
    u"XLMAIN",             u"OpusApp",    u"SunAwtFrame",   u"IME",                u"tooltips_class32",
    u"MSCTFIME UI",        u"HwndWrapper[DefaultDomain;;5e2a]",
};

std::u16string Number(std::size_t n) {
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

// Two monitors, the primary with a taskbar, and the windows of a busy
// desktop: a third of them hidden (tool, IME and tooltip windows).
void BuildDesktop(RecordingDesktop& desktop, int windows) {
    desktop.Monitors = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}, {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}}};
    desktop.Composition = true;
    desktop.AddWindow({.ClassName = u"Shell_TrayWnd", .Frame = {0, 1040, 1920, 1080}});
    desktop.AddWindow({.ClassName = u"Shell_SecondaryTrayWnd", .Frame = {1920, 984, 3200, 1024}});
    for (int i = 2; i < windows; ++i) {
        const auto n = static_cast<std::size_t>(i);
        SimWindow window{.ProcessId = static_cast<std::uint32_t>(100 + i % 40),
                         .ClassName = Classes[n % std::size(Classes)],
                         .Title = u"Quarterly figures " + Number(n) + u".xlsx - Spreadsheet",
                         .Frame = {40 + i % 600, 30 + i % 400, 1040 + i % 600, 730 + i % 400},
                         .Visible = i % 3 != 0};
        if (i % 30 == 1) {
            // Off the right edge of the second monitor: one move back in.
            window.Frame = {3000, 100, 3900, 700};
            window.MoveFails = true;
        }
        desktop.AddWindow(std::move(window));
    }
}

// The built-in rules and rules that exempt none of the windows; one in four
// has a class mask that every class matches, so its title mask is compiled
// and tested too.
void BuildRules(int rules) {
    ExclusionRules = std::make_unique<TStringList>();
    AddBuiltInRules(*ExclusionRules);
    CompiledMasks = std::make_unique<TMaskCache>();
    for (int i = static_cast<int>(std::size(BuiltInRules)); i < rules; ++i) {
        const std::u16string n = Number(static_cast<std::size_t>(i));
        switch (i % 4) {
            case 0: ExclusionRules->Add(u"*Invoice " + n + u"*=*"); break;
            case 1: ExclusionRules->Add(u"*=App" + n + u"Frame"); break;
            case 2: ExclusionRules->Add(u"[A-Z]*Tool " + n + u"=*Window" + n); break;
            default: ExclusionRules->Add(u"Backup?" + n + u"=[!S]*Dialog"); break;
        }
    }
}

// The mask tests of one pass, in the pass's order, on texts read beforehand,
// with the masks compiled once as in a run.
struct MaskWork {
    std::vector<std::pair<std::u16string, std::u16string>> Texts;  // class, title of each window
    std::vector<std::pair<std::u16string, std::u16string>> Masks;  // class mask, title mask of each rule

    MaskWork(SimulatedDesktop& desktop) {
        std::vector<WindowHandle> handles;
        for (const SimWindow& window : desktop.Windows) handles.push_back(window.Handle);
        for (WindowHandle handle : handles) {
            char16_t className[260], title[260];
            const int classLength = desktop.GetClassNameW(handle, className, 260);
            const int titleLength = desktop.GetWindowTextW(handle, title, 260);
            Texts.emplace_back(std::u16string(className, static_cast<std::size_t>(classLength)),
                               std::u16string(title, static_cast<std::size_t>(titleLength)));
        }
        for (int i = 0; i < ExclusionRules->Count(); ++i)
            Masks.emplace_back(ExclusionRules->GetValueFromIndex(i), ExclusionRules->GetName(i));
    }

    void Run() {
        TMaskCache compiled;
        for (const auto& [className, title] : Texts) {
            for (const auto& [classMask, titleMask] : Masks) {
                const bool exempt =
                    compiled.Compiled(classMask).Matches(className) && compiled.Compiled(titleMask).Matches(title);
                benchmark::DoNotOptimize(exempt);
                if (exempt) break;
            }
        }
    }
};

using Clock = std::chrono::steady_clock;

// Mean seconds of one run, over runs that take a tenth of a second at least.
template <class Work>
double SecondsPerRun(Work work) {
    const Clock::time_point start = Clock::now();
    int runs = 0;
    std::chrono::duration<double> elapsed{};
    do {
        work();
        ++runs;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < 0.1);
    return elapsed.count() / runs;
}

struct Shares {
    double Mask = 0, Platform = 0;
};

void BM_WindowPass(benchmark::State& state) {
    const int windows = static_cast<int>(state.range(0));
    const int rules = static_cast<int>(state.range(1));
    RecordingDesktop desktop;
    ScopedPlatform scope(desktop);
    BuildDesktop(desktop, windows);
    BuildRules(rules);
    CaptureVersionFacts();
    TargetProcessId = 0;

    const Clock::time_point start = Clock::now();
    // Each pass with a fresh mask cache: a whole-desktop run makes one pass,
    // which compiles every mask it reaches.
    for (auto _ : state) {
        CompiledMasks = std::make_unique<TMaskCache>();
        WindowPass();
        desktop.Moves.clear();
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const double pass = elapsed.count() / static_cast<double>(state.iterations());

    // Google Benchmark runs this function more than once while it settles the
    // number of iterations; the shares are measured on the first run only.
    static std::map<std::pair<int, int>, Shares> measured;
    auto [entry, fresh] = measured.try_emplace({windows, rules});
    if (fresh) {
        desktop.Recording = true;
        WindowPass();
        desktop.Recording = false;
        desktop.Moves.clear();
        const double passAgain = SecondsPerRun([] {
            CompiledMasks = std::make_unique<TMaskCache>();
            WindowPass();
        });
        desktop.Moves.clear();
        MaskWork masks(desktop);
        entry->second.Mask = SecondsPerRun([&] { masks.Run(); }) / passAgain;
        entry->second.Platform = SecondsPerRun([&] { desktop.Replay(); }) / passAgain;
    }
    state.counters["mask_share"] = entry->second.Mask;
    state.counters["platform_share"] = entry->second.Platform;
    state.counters["per_test"] = pass / (static_cast<double>(windows) * rules);
    CompiledMasks.reset();
    ExclusionRules.reset();
}

BENCHMARK(BM_WindowPass)
    ->ArgNames({"windows", "rules"})
    ->ArgsProduct({{10, 1000, 10000}, {1, 100, 1000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessel

BENCHMARK_MAIN();
