#pragma once
// The main program module: the rule list, the main block and the driver.
#include <memory>

namespace tessel {

class TMaskCache;
class TStringList;

/// The built-in rule exempts the taskbars: an empty title and a class name
/// of the form Shell_…TrayWnd.
inline constexpr char16_t BuiltInRule[] = u"=Shell_*TrayWnd";

/// The rules of the run: the built-in rule first, then each rules file's.
extern std::unique_ptr<TStringList> ExclusionRules;

/// The rules' masks compiled so far in the run, by their text: a mask is
/// compiled once however many windows and passes test it. Created and
/// released with ExclusionRules.
extern std::unique_ptr<TMaskCache> CompiledMasks;

/// Reads the command line, loads every rules file, then makes one pass over
/// the whole desktop, or one launch and one pass per program entry.
void RunDriver();

/// Creates the rule list and the mask cache, runs the driver and releases
/// both on every path out.
void MainBlock();

}  // namespace tessel
