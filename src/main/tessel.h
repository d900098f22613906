#pragma once
// The main program module: the rule list, the main block and the driver.
#include <memory>

namespace tessel {

class TMaskCache;
class TStringList;

/// The built-in rules, first in every rule list: the taskbars (an empty
/// title and a class name of the form Shell_…TrayWnd), and the shell's
/// desktop windows behind every other window, which span every monitor and
/// would be cut down to one.
inline constexpr const char16_t* BuiltInRules[] = {u"=Shell_*TrayWnd", u"*=Progman", u"*=WorkerW"};

/// Appends the built-in rules to `rules`, in their order.
void AddBuiltInRules(TStringList& rules);

/// The rules of the run: the built-in rules first, then each rules file's.
extern std::unique_ptr<TStringList> ExclusionRules;

/// The rules' masks compiled so far in the run, by their text: a mask is
/// compiled once however many windows and passes test it. Created and
/// released with ExclusionRules.
extern std::unique_ptr<TMaskCache> CompiledMasks;

/// Reads the command line, loads every rules file, then makes one pass over
/// the whole desktop, or one launch and one pass per program entry; or,
/// with -w, watches the desktop, and with -q ends the watcher. Options that
/// cannot go together raise EArgumentException before any file is read.
void RunDriver();

/// Creates the rule list and the mask cache, runs the driver and releases
/// both on every path out.
void MainBlock();

}  // namespace tessel
