#!/usr/bin/env python3
"""Watch mode under Wine: what a watcher costs while nothing changes, and
whether it keeps its handles and memory over many changes.

One X server and one warm Wine session (tests/e2e/winesession.py), one
1920x1080 monitor, one helper window beside Tessel.exe -w (64-bit build):

  quiet         processor time (user and system, of the watcher's own
                process; Wine's server is not counted) over QUIET seconds
                after its first pass, with nothing changing
  handles       the watcher's handle count after its first pass and after
                CHANGES real changes: broadcasts of the work area, in
                ROUNDS rounds each of which puts the window off screen and
                waits for the pass that brings it back
  private bytes the same for the watcher's private bytes

Wine 8 answers 0 for both of another process (GetProcessHandleCount,
GetProcessMemoryInfo), so the Linux side's counts of the same process are
printed beside them: its anonymous resident memory (RssAnon), which holds
the program's private memory, and its open file descriptors.

Exits 0 and says why when Wine, Xorg or the 64-bit build is missing, so that
`make bench` goes on.
"""

import contextlib
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import winesession  # noqa: E402
from run_e2e import SETTLE, WATCHED, Watch, Win, spec_line  # noqa: E402
from winesession import Monitor, Session, SessionError, windows_path  # noqa: E402

QUIET = 30
ROUNDS = 10
CHANGES = 50
WORK = os.path.join(ROOT, "build", "bench-wine-watch")
TESSEL = os.path.join(ROOT, "build", "win64", "Tessel.exe")
HELPER = os.path.join(ROOT, "build", "win64", "e2e_helper.exe")


def processor_seconds(pid):
    """User and system time of a process so far, from the kernel's count."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def linux_stats(pid):
    with open(f"/proc/{pid}/status") as f:
        anonymous = next(int(line.split()[1]) * 1024 for line in f if line.startswith("RssAnon:"))
    return len(os.listdir(f"/proc/{pid}/fd")), anonymous


def watcher_stats(session, directory):
    out = os.path.join(directory, "stats.txt")
    with contextlib.suppress(FileNotFoundError):
        os.remove(out)
    session.run_wine([session.helper_exe, "--watcher-stats", windows_path(out)])
    with open(out, encoding="utf-8") as f:
        fields = f.read().split()
    if fields[0] != "stats":
        raise SessionError("the helper found no watcher")
    return fields[2], fields[3]


def main():
    reason = winesession.why_not_here([TESSEL, HELPER])
    if reason:
        print(f"wine_watch: skipped: {reason}")
        return 0
    directory = os.path.join(WORK, "watch")
    os.makedirs(directory, exist_ok=True)
    with Session(WORK, HELPER, display=76, outputs=1) as session:
        session.set_layout([Monitor((0, 0, 1920, 1080), primary=True)])
        stem = os.path.join(directory, "desk")
        for name in (".live", ".ready", ".report", ".quit"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(stem + name)
        session.install_helper(stem + ".exe")
        with open(stem + ".windows", "w", encoding="utf-8", newline="") as f:
            f.write(spec_line(Win("watched", WATCHED)))
        helper = session.start(stem + ".exe", cwd=directory)
        watch = Watch(session, TESSEL, {}, directory, stem)
        try:
            session.wait_for_file(stem + ".ready", 30, "the helper did not start")
            watcher, failures = watch.first_pass()
            if failures:
                raise SessionError("; ".join(failures))
            with open(f"/proc/{watcher.pid}/cmdline", "rb") as f:
                if b"Tessel.exe" not in f.read():
                    raise SessionError("the watcher's process is not the one started")
            time.sleep(1)
            before = processor_seconds(watcher.pid)
            time.sleep(QUIET)
            quiet = processor_seconds(watcher.pid) - before
            first = watcher_stats(session, directory) + linux_stats(watcher.pid)
            for _ in range(ROUNDS):
                watch.move_away()
                count = len(watch.moves())
                for _ in range(CHANGES // ROUNDS):
                    watch.helper("--workarea")
                if len(watch.wait_moves(count + 1, SETTLE + 10)) <= count:
                    raise SessionError("a round of changes was followed by no pass")
            last = watcher_stats(session, directory) + linux_stats(watcher.pid)
        finally:
            watch.end()
            Session._touch(stem + ".quit")
            session.finish(helper, 10)
    print(f"wine_watch: processor time over a quiet {QUIET} s after the first pass: {quiet * 1000:.0f} ms")
    print(f"wine_watch: after the first pass and after {CHANGES} work-area changes with {ROUNDS} passes:")
    rows = [("handles (Wine's answer)", 0), ("private bytes (Wine's answer)", 1),
            ("file descriptors (Linux)", 2), ("anonymous resident bytes (Linux)", 3)]
    for name, i in rows:
        grew = f"   {int(last[i]) - int(first[i]):+d}" if str(first[i]).isdigit() and str(last[i]).isdigit() else ""
        print(f"  {name:<34}{first[i]:>12}{last[i]:>12}{grew}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except SessionError as error:
        print(f"wine_watch: failed: {error}")
        sys.exit(1)
