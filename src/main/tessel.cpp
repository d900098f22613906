#include "main/tessel.h"

#include <optional>

#include "main/command_line.h"
#include "main/launch_follow_up.h"
#include "main/watch_mode.h"
#include "main/window_list.h"
#include "main/window_pass.h"
#include "masks/mask.h"
#include "platform/platform.h"
#include "rules/string_list.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

std::unique_ptr<TStringList> ExclusionRules;
std::unique_ptr<TMaskCache> CompiledMasks;

namespace {

bool IsOption(const std::u16string& argument) {
    return argument.size() == 2 && (argument[0] == u'-' || argument[0] == u'/');
}

void LoadRulesFile(const std::u16string& fileName) {
    TStringList rules;
    rules.LoadFromFile(fileName);
    ExclusionRules->AddStrings(rules);
}

void LaunchAndPass(const std::u16string& entry) {
    // Both texts outlive the launch call, which only borrows them.
    const std::u16string directory = GetDirectoryPart(entry);
    ShellExecuteInfo info{};
    info.cbSize = ShellExecuteInfoSize;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = u"open";
    info.lpFile = entry.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOW;
    // Made before the launch: what is there now belongs to programs that
    // already run.
    TLaunchFollower follower;
    if (!Os().ShellExecuteExW(&info)) return;
    follower.Launched(info.hProcess);
    Os().WaitForInputIdle(info.hProcess, INFINITE);
    TargetProcessId = Os().GetProcessId(info.hProcess);
    WindowPass();
    // The handle stays open meanwhile, so that the launched process's id
    // is not given to another while its family is followed.
    follower.Follow(TargetProcessId);
    Os().CloseHandle(info.hProcess);
}

/// The options of a run as the user wrote them; empty when not given.
struct TModeOptions {
    std::u16string Listing, Watching, Quitting;
};

/// Watch mode and its end go with nothing but rules files: what a run would
/// do otherwise cannot be told, so nothing is done.
void CheckModes(const TModeOptions& options, const TStringList& programs) {
    const auto conflict = [](const std::u16string& a, const std::u16string& b) {
        Raise<EArgumentException>(FormatText(LoadResString(SOptionConflict), {a, b}));
    };
    const auto withProgram = [&](const std::u16string& option) {
        Raise<EArgumentException>(FormatText(LoadResString(SOptionWithProgram), {option, programs.Strings(0)}));
    };
    if (!options.Watching.empty() && !options.Quitting.empty()) conflict(options.Watching, options.Quitting);
    for (const std::u16string* mode : {&options.Watching, &options.Quitting}) {
        if (mode->empty()) continue;
        if (!options.Listing.empty()) conflict(*mode, options.Listing);
        if (programs.Count() != 0) withProgram(*mode);
    }
}

}  // namespace

void AddBuiltInRules(TStringList& rules) {
    for (const char16_t* rule : BuiltInRules) rules.Add(rule);
}

void RunDriver() {
    TStringList programs;
    TStringList rulesFiles;
    TModeOptions modes;
    // The command line cannot change during the run, so it is split once;
    // asking for every argument afresh would cost time quadratic in its length.
    const std::vector<std::u16string> arguments = SplitArguments(CommandLineText());
    const auto argument = [&](std::size_t i) { return i < arguments.size() ? arguments[i] : std::u16string(); };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& a = arguments[i];
        if (!IsOption(a)) {
            programs.Add(a);
        } else if (a[1] == u'E' || a[1] == u'e') {
            rulesFiles.Add(argument(i + 1));
            ++i;
        } else if (a[1] == u'L' || a[1] == u'l') {
            if (modes.Listing.empty()) modes.Listing = a;
        } else if (a[1] == u'W' || a[1] == u'w') {
            if (modes.Watching.empty()) modes.Watching = a;
        } else if (a[1] == u'Q' || a[1] == u'q') {
            if (modes.Quitting.empty()) modes.Quitting = a;
        }
    }
    // Before any rules file, so that a command line that cannot be carried
    // out says so whatever else is wrong with it.
    CheckModes(modes, programs);
    for (int i = 0; i < rulesFiles.Count(); ++i) LoadRulesFile(rulesFiles.Strings(i));
    if (!modes.Quitting.empty()) {
        StopRunningWatcher();
        return;
    }
    if (!modes.Watching.empty()) {
        WatchDesktop();
        return;
    }
    // Opened only when asked for: a normal run attaches no console and
    // writes nothing.
    std::optional<TWindowList> list;
    if (!modes.Listing.empty()) list.emplace();
    WindowList = list ? &*list : nullptr;
    struct ForgetList {
        ~ForgetList() { WindowList = nullptr; }
    } forgetList;
    if (programs.Count() == 0) {
        TargetProcessId = 0;
        WindowPass();
        return;
    }
    // The shell may hand a launch to an extension that is a COM object (a
    // shortcut, a Store app, a URL protocol), which needs COM on this thread.
    const TComApartment apartment;
    const int count = programs.Count();
    for (int i = 0; i < count; ++i) LaunchAndPass(programs.Strings(i));
}

void MainBlock() {
    ExclusionRules = std::make_unique<TStringList>();
    struct ReleaseRules {
        ~ReleaseRules() {
            VirtualDesktops.reset();
            CompiledMasks.reset();
            ExclusionRules.reset();
        }
    } releaseRules;
    CompiledMasks = std::make_unique<TMaskCache>();
    VirtualDesktops = std::make_unique<TVirtualDesktops>();
    AddBuiltInRules(*ExclusionRules);
    RunDriver();
}

}  // namespace tessel
