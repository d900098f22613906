#pragma once
// The window list of the option -l: one line per top-level window that a
// pass meets, with its title, class, frame, work area and the pass's
// decision, so that a user can write a rule for it and see what a run
// would do before it moves anything.
#include <string>
#include <string_view>

#include "main/window_pass.h"
#include "platform/platform.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

/// A list field on one line: tab, line breaks, the backslash and every
/// other control character escaped (\t, \n, \r, \\, \xNN).
std::u16string EscapeListField(std::u16string_view text);

class TWindowList {
public:
    /// Finds where the lines go (standard output when it is a file or a
    /// pipe, as UTF-8; otherwise the parent's console when it has one;
    /// otherwise nowhere) and writes the header line.
    TWindowList();
    ~TWindowList();
    TWindowList(const TWindowList&) = delete;
    TWindowList& operator=(const TWindowList&) = delete;

    /// The window's texts come from those the pass read, so that each is
    /// read at most once.
    void Write(TWindowTexts& texts, const TPlacement& placement);

private:
    /// A line that cannot be written (a pipe closed by its reader) ends the
    /// list, not the run.
    void WriteLine(const std::u16string& line);

    FileHandle FOutput = 0;
    bool FConsole = false;
};

/// The list of the run in list mode; null otherwise, and then no pass
/// writes anything or leaves a window where it is.
extern TWindowList* WindowList;

}  // namespace tessel
