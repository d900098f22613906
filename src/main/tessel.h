#pragma once
// The main program module: the rule list, the main block and the driver.
#include <memory>

namespace tessel {

class TStringList;

/// The built-in rule exempts the taskbars: an empty title and a class name
/// of the form Shell_…TrayWnd.
inline constexpr char16_t BuiltInRule[] = u"=Shell_*TrayWnd";

/// The rules of the run: the built-in rule first, then each rules file's.
extern std::unique_ptr<TStringList> ExclusionRules;

/// Reads the command line, loads every rules file, then makes one pass over
/// the whole desktop, or one launch and one pass per program entry.
void RunDriver();

/// Creates the rule list, runs the driver and releases the list on every
/// path out.
void MainBlock();

}  // namespace tessel
