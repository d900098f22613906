#pragma once
// Watch mode: one pass at once, then one pass over the whole desktop after
// each change of the monitors or work areas, once the desktop has been still
// for a while; until the session ends or another start of Tessel stops it.
// One watcher per session.
#include <cstdint>
#include <optional>

namespace tessel {

/// Stillness after the last change before its pass: monitors come and go
/// several times within seconds, and Windows makes its own moves first.
inline constexpr std::uint32_t SettleMs = 3000;
/// While the user is busy in full screen or presenting, how often the
/// pending pass asks again.
inline constexpr std::uint32_t BusyRecheckMs = 2000;
/// How long a start waits for the running watcher to end before it gives up.
inline constexpr std::uint32_t WatcherEndTimeoutMs = 10000;

/// The session's watcher holds the mutex and owns the one window of the class.
inline constexpr const char16_t* WatcherMutexName = u"Local\\TesselWatcher";
inline constexpr const char16_t* WatcherClassName = u"TesselWatcher";
inline constexpr const char16_t* WatcherWindowName = u"Tessel";

/// When the watcher makes its passes. It takes the events with the time
/// they happened (milliseconds of one clock) and answers when a pass is
/// due; it neither waits nor makes the pass.
class TWatchPlan {
public:
    /// The monitors or a work area changed.
    void Change(std::uint64_t now);
    void Lock();
    /// Counts as a change. A user who unlocks has also woken the PC, whether
    /// or not its resume was heard.
    void Unlock(std::uint64_t now);
    void Suspend();
    /// Counts as a change.
    void Resume(std::uint64_t now);
    /// A pass was due, but the user runs a program in exclusive full screen
    /// or presents: it is asked again a little later.
    void Busy(std::uint64_t now);
    /// The pass is about to be made; a change from here on needs another.
    void PassStarting();
    /// When to look again; none while nothing is pending, or while the
    /// session is locked or asleep, so that an idle watcher sets no timer.
    std::optional<std::uint64_t> Due() const;
    bool PassDue(std::uint64_t now) const;

private:
    bool FPending = false;
    bool FLocked = false;
    bool FAsleep = false;
    std::uint64_t FDue = 0;
};

/// Ends the session's running watcher, if any, and waits until it has;
/// raises EWatchError when it has not ended within WatcherEndTimeoutMs.
void StopRunningWatcher();

/// Takes the running watcher's place, makes one pass over the whole desktop,
/// then a pass after each settled change, until the session ends or the
/// window is closed. A failure in a pass leaves through the usual path.
void WatchDesktop();

}  // namespace tessel
