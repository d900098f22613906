#include "main/watch_mode.h"

#include "main/window_pass.h"
#include "platform/platform.h"
#include "runtime/exception.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

void TWatchPlan::Change(std::uint64_t now) {
    FPending = true;
    FDue = now + SettleMs;
}

void TWatchPlan::Lock() { FLocked = true; }

void TWatchPlan::Unlock(std::uint64_t now) {
    FLocked = false;
    FAsleep = false;
    Change(now);
}

void TWatchPlan::Suspend() { FAsleep = true; }

void TWatchPlan::Resume(std::uint64_t now) {
    FAsleep = false;
    Change(now);
}

void TWatchPlan::Busy(std::uint64_t now) { FDue = now + BusyRecheckMs; }

void TWatchPlan::PassStarting() { FPending = false; }

std::optional<std::uint64_t> TWatchPlan::Due() const {
    if (!FPending || FLocked || FAsleep) return std::nullopt;
    return FDue;
}

bool TWatchPlan::PassDue(std::uint64_t now) const {
    const std::optional<std::uint64_t> due = Due();
    return due && now >= *due;
}

namespace {

constexpr std::uint32_t WatcherPollMs = 100;
constexpr std::uintptr_t SettleTimer = 1;

[[noreturn]] void RaiseCannotStart(const char16_t* call) {
    Raise<EWatchError>(FormatText(LoadResString(SWatcherCannotStart), {call}));
}

/// The session's watcher mutex, owned from construction to destruction.
/// Construction ends the watcher that owns it: it asks that watcher's
/// window to close and waits, within a bound, until the mutex is free.
class TWatcherMutex {
public:
    TWatcherMutex() : FHandle(Os().CreateMutexW(WatcherMutexName)) {
        if (FHandle == 0) RaiseCannotStart(u"CreateMutexW");
        const std::uint64_t start = Os().GetTickCount64();
        std::uint32_t processId = 0;
        WindowHandle asked = 0;
        for (;;) {
            const std::uint32_t result = Os().WaitForSingleObject(FHandle, WatcherPollMs);
            // An abandoned mutex is owned as well: its watcher ended without
            // letting go, by a failure or from the task manager.
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return;
            if (result != WAIT_TIMEOUT) {
                Os().CloseHandle(FHandle);
                RaiseCannotStart(u"WaitForSingleObject");
            }
            // The window may not exist yet when its watcher has only just
            // started, so it is looked for on every round; a window not
            // asked before is another start's that took the mutex first.
            const WindowHandle window = Os().FindWindowW(WatcherClassName, WatcherWindowName);
            if (window != 0 && window != asked && Os().PostMessageW(window, WM_CLOSE, 0, 0)) {
                Os().GetWindowThreadProcessId(window, &processId);
                asked = window;
            }
            // A watcher that does not answer (its thread waits on a hung
            // program's window, say) must not hold this start up for good.
            if (Os().GetTickCount64() - start >= WatcherEndTimeoutMs) {
                Os().CloseHandle(FHandle);
                Raise<EWatchError>(FormatText(LoadResString(SWatcherNotEnding),
                                              {processId, static_cast<unsigned>(WatcherEndTimeoutMs / 1000)}));
            }
        }
    }
    ~TWatcherMutex() {
        Os().ReleaseMutex(FHandle);
        Os().CloseHandle(FHandle);
    }
    TWatcherMutex(const TWatcherMutex&) = delete;
    TWatcherMutex& operator=(const TWatcherMutex&) = delete;

private:
    std::uintptr_t FHandle;
};

/// The running watcher's window and plan, which its window procedure reaches.
struct TWatcher {
    WindowHandle Window = 0;
    TWatchPlan Plan;
};
TWatcher* Running = nullptr;

void ArmSettleTimer() {
    Os().KillTimer(Running->Window, SettleTimer);
    const std::optional<std::uint64_t> due = Running->Plan.Due();
    if (!due) return;
    const std::uint64_t now = Os().GetTickCount64();
    Os().SetTimer(Running->Window, SettleTimer, static_cast<std::uint32_t>(*due > now ? *due - now : 0));
}

// Only notes what happened: the pass is made from the loop, never from here,
// so that no pass runs inside another program's broadcast or inside the
// pass's own waits for an answer, which deliver sent messages.
std::intptr_t WatcherProcedure(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) {
    if (Running == nullptr || window != Running->Window) return Os().DefWindowProcW(window, message, wParam, lParam);
    TWatchPlan& plan = Running->Plan;
    const std::uint64_t now = Os().GetTickCount64();
    std::intptr_t answer = 0;
    switch (message) {
    case WM_DISPLAYCHANGE:
        plan.Change(now);
        break;
    case WM_SETTINGCHANGE:
        if (wParam != SPI_SETWORKAREA) return Os().DefWindowProcW(window, message, wParam, lParam);
        plan.Change(now);
        break;
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_LOCK) plan.Lock();
        if (wParam == WTS_SESSION_UNLOCK) plan.Unlock(now);
        break;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND) plan.Suspend();
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) plan.Resume(now);
        answer = 1;  // TRUE: nothing here objects to a suspend
        break;
    case WM_CLOSE:
        Os().PostQuitMessage(0);
        return 0;
    default:
        return Os().DefWindowProcW(window, message, wParam, lParam);
    }
    ArmSettleTimer();
    return answer;
}

/// The hidden top-level window that the change messages come to; its timer
/// goes with it.
class TWatcherWindow {
public:
    explicit TWatcherWindow(TWatcher& watcher) {
        Os().RegisterClassExW(WatcherClassName, &WatcherProcedure);
        watcher.Window = Os().CreateWindowExW(WS_EX_TOOLWINDOW, WatcherClassName, WatcherWindowName, WS_POPUP);
        if (watcher.Window == 0) RaiseCannotStart(u"CreateWindowExW");
        Running = &watcher;
    }
    ~TWatcherWindow() {
        Os().KillTimer(Running->Window, SettleTimer);
        Os().DestroyWindow(Running->Window);
        Running = nullptr;
    }
    TWatcherWindow(const TWatcherWindow&) = delete;
    TWatcherWindow& operator=(const TWatcherWindow&) = delete;
};

/// The session's lock and unlock notices to the window.
class TSessionNotices {
public:
    // Refused while the session's services are still starting; the watcher
    // then goes on without hearing of unlocks.
    explicit TSessionNotices(WindowHandle window)
        : FWindow(window), FRegistered(Os().WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION)) {}
    ~TSessionNotices() {
        if (FRegistered) Os().WTSUnRegisterSessionNotification(FWindow);
    }
    TSessionNotices(const TSessionNotices&) = delete;
    TSessionNotices& operator=(const TSessionNotices&) = delete;

private:
    WindowHandle FWindow;
    bool FRegistered;
};

bool UserBusy() {
    std::int32_t state = 0;
    if (Os().SHQueryUserNotificationState(&state) != S_OK) return false;
    return state == QUNS_BUSY || state == QUNS_RUNNING_D3D_FULL_SCREEN || state == QUNS_PRESENTATION_MODE;
}

void DesktopPass() {
    TargetProcessId = 0;
    WindowPass();
}

void OnSettleTimer() {
    TWatchPlan& plan = Running->Plan;
    const std::uint64_t now = Os().GetTickCount64();
    if (plan.PassDue(now)) {
        // A game that changed the resolution must not get every other window
        // cut down to it.
        if (UserBusy()) {
            plan.Busy(now);
        } else {
            plan.PassStarting();
            DesktopPass();
        }
    }
    ArmSettleTimer();
}

}  // namespace

void StopRunningWatcher() { TWatcherMutex mutex; }

void WatchDesktop() {
    TWatcherMutex mutex;
    TWatcher watcher;
    TWatcherWindow window(watcher);
    TSessionNotices notices(watcher.Window);
    DesktopPass();
    Msg message;
    while (Os().GetMessageW(&message) > 0) {
        if (message.message == WM_TIMER && message.hwnd == watcher.Window && message.wParam == SettleTimer)
            OnSettleTimer();
        else
            Os().DispatchMessageW(&message);
    }
}

}  // namespace tessel
