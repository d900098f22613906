#!/usr/bin/env python3
"""Start-up to exit of Tessel.exe under Wine, with nothing to move.

One X server and one warm Wine session (tests/e2e/winesession.py), one
1920x1080 monitor. Each figure is the wall time from starting `wine` to its
exit, over RUNS runs after one warm-up run:

  baseline      a program that exits at once (the e2e helper with an
                argument it does not know): what Wine itself costs
  no rules      Tessel.exe alone: start-up, one pass over Wine's own
                windows, exit
  100 rules     Tessel.exe -e with a file of 100 rules that exempt nothing
  1000 rules    the same with 1,000 rules

Tessel's own share is its figure less the baseline; the cost of one rule is
the difference between the two rule files over the 900 rules between them,
on Wine's own few windows (wine_rules.py measures rules on a desktop of
200 windows of another program). Exits 0 and says why when Wine, Xorg or
the 64-bit build is missing, so that `make bench` goes on.
"""

import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import winesession  # noqa: E402
from winesession import Monitor, Session, SessionError, windows_path  # noqa: E402

RUNS = 20
TIMEOUT = 30
WORK = os.path.join(ROOT, "build", "bench-wine")
TESSEL = os.path.join(ROOT, "build", "win64", "Tessel.exe")
HELPER = os.path.join(ROOT, "build", "win64", "e2e_helper.exe")


def skip(reason):
    print(f"wine_startup: skipped: {reason}")
    return 0


def timed_runs(session, exe, args, want_code):
    """Wall seconds of each run after one warm-up; fails on another exit code."""
    times = []
    for i in range(RUNS + 1):
        started = time.perf_counter()
        code = session.finish(session.start(exe, args), TIMEOUT)
        elapsed = time.perf_counter() - started
        if code != want_code:
            raise SessionError(f"{os.path.basename(exe)} {' '.join(args)} exited with {code}, not {want_code}")
        if i > 0:
            times.append(elapsed)
    return times


def main():
    reason = winesession.why_not_here([TESSEL, HELPER])
    if reason:
        return skip(reason)

    os.makedirs(WORK, exist_ok=True)
    rules = {}
    for count in (100, 1000):
        rules[count] = os.path.join(WORK, f"rules{count}.txt")
        with open(rules[count], "w", encoding="ascii", newline="\r\n") as f:
            for i in range(count):
                f.write(f"*Quarterly figures {i}.xlsx - Spreadsheet=App{i}Frame\n")

    started = time.monotonic()
    with Session(WORK, HELPER, display=75, outputs=1) as session:
        session.set_layout([Monitor((0, 0, 1920, 1080), (0, 0, 1920, 1040), primary=True)])
        print(f"wine_startup: X display :{session.display}, warm Wine session ready after "
              f"{time.monotonic() - started:.1f} s; {RUNS} runs each")
        rows = [
            ("baseline (a program that exits at once)", timed_runs(session, HELPER, ["--exit"], 64)),
            ("Tessel.exe, no rules file", timed_runs(session, TESSEL, [], 0)),
        ] + [(f"Tessel.exe -e rules{count}.txt ({count} rules)",
               timed_runs(session, TESSEL, ["-e", windows_path(path)], 0)) for count, path in rules.items()]
    baseline = statistics.median(rows[0][1])
    print(f"{'run':<42}{'median':>10}{'min':>10}{'max':>10}{'less baseline':>16}")
    for name, times in rows:
        median = statistics.median(times)
        print(f"{name:<42}{median * 1000:>8.1f}ms{min(times) * 1000:>8.1f}ms{max(times) * 1000:>8.1f}ms"
              f"{(median - baseline) * 1000:>14.1f}ms")
    per_rule = (statistics.median(rows[3][1]) - statistics.median(rows[2][1])) / 900
    print(f"one rule costs {per_rule * 1e6:.0f} us per pass under Wine (Wine's own windows)")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except SessionError as error:
        print(f"wine_startup: failed: {error}")
        sys.exit(1)
