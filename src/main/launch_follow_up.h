#pragma once
// The follow-up of a launch. Many programs show nothing of their own when
// they first become idle: a launcher stub starts the real program and ends,
// a program that already runs takes the request over in its running copy,
// and others show a splash screen first and their main window later. So
// after the launch's pass the launched program's family is watched for a
// while, and each window it shows late is judged once, as a pass would.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "main/window_pass.h"
#include "platform/platform.h"

namespace tessel {

/// How long a program that has shown its main window is given for more
/// windows, counted from its last new one.
inline constexpr std::uint64_t FollowUpSettleMs = 2000;
/// The longest follow-up, counted from the launch: a program that shows no
/// window at all costs no more.
inline constexpr std::uint64_t FollowUpLimitMs = 30000;
/// How often the family and its windows are looked at.
inline constexpr std::uint32_t FollowUpPollMs = 150;

/// When to stop following a launch, from the windows judged and when. It
/// reads no clock: it is told the time of each event and of each question.
class TFollowUp {
public:
    explicit TFollowUp(std::uint64_t launchTime);

    /// A window of the family judged for the first time. A main window is a
    /// visible, unowned window with a title bar or shown on the taskbar;
    /// a splash screen is not one.
    void WindowJudged(std::uint64_t time, WindowHandle window, bool mainWindow);
    /// A judged window that is no longer shown, closed or hidden: a main
    /// window that has gone ends nothing.
    void WindowClosed(WindowHandle window);
    /// True once a judged main window is shown and no new window has come
    /// for FollowUpSettleMs, and at the latest FollowUpLimitMs after the launch.
    bool StopFollowing(std::uint64_t time) const;

private:
    std::uint64_t FLaunchTime;
    std::uint64_t FLastWindowTime;
    std::set<WindowHandle> FMainWindows;
};

/// Whether the window is a main window in the sense of TFollowUp.
bool IsMainWindow(WindowHandle window);

/// A process as a snapshot of the running ones lists it.
struct TRunningProcess {
    std::uint32_t Id = 0;
    std::uint32_t ParentId = 0;
    std::u16string ExeFile;  // the file name of its executable, without a path
};

/// The follow-up of one launch, made before the launch so that it knows
/// which windows and processes were there already. For its lifetime every
/// judgement of a window is recorded in it (see `Judgements`), so that it
/// learns what the launch's pass has judged.
class TLaunchFollower {
public:
    TLaunchFollower();
    ~TLaunchFollower();
    TLaunchFollower(const TLaunchFollower&) = delete;
    TLaunchFollower& operator=(const TLaunchFollower&) = delete;

    /// Right after a launch: its time, and the path of the executable that
    /// the process runs, read while the process surely runs (a stub ends at
    /// once). A null handle notes nothing.
    void Launched(ProcessHandle process);

    /// After the launch's pass: follows the family of `processId` (the
    /// launched process, the processes it started and theirs, and every
    /// process of the same executable) until TFollowUp says to stop,
    /// judging each visible window of the family that was not there before
    /// the launch the first time it is seen visible; of the windows that
    /// were there, only the foreground one, which a copy already running
    /// brings to the front when it takes a request over. Without a process
    /// id (a launch without a handle) nothing is followed.
    void Follow(std::uint32_t processId);

private:
    void UpdateFamily(const std::vector<TRunningProcess>& processes);
    bool RunsLaunchedImage(const TRunningProcess& process);

    std::vector<TJudgement> FJudgements;
    std::vector<TJudgement>* FOuterJudgements;
    std::set<WindowHandle> FWindowsBefore;
    std::set<std::uint32_t> FProcessesBefore;
    std::uint64_t FLaunchTime = 0;
    std::u16string FImage;  // empty when it could not be read
    std::uint32_t FLaunchedId = 0;
    std::set<std::uint32_t> FFamily;
    std::map<std::uint32_t, bool> FSameImage;  // by process id: whether it runs FImage
};

}  // namespace tessel
