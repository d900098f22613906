#!/usr/bin/env python3
"""What rules cost a run of Tessel.exe under Wine, on a desktop like a real one.

One X server and one warm Wine session (tests/e2e/winesession.py), one
1920x1080 monitor, and another program (a copy of the e2e helper) with 200
top-level windows inside the work area: 100 shown, 100 hidden, so nothing is
moved. Tessel.exe runs with no rules file, then with 20 rules, then with
1,000, one after another in each round (paired runs, so that a slow moment
of the machine weighs on all three alike, in an order that turns from
round to round), over RUNS rounds after one warm-up round. Printed: the median wall time of each, and the median of the
per-round ratios against the run without a rules file.

The rules exempt nothing. One in four has the class mask "*", which every
class matches, so that its title mask is tested too; the others have class
masks that no window's class matches. Every read of one of the windows'
texts asks their program through the Wine server, which is what a rule
costs here.

    wine_rules.py [--tessel PATH] [--runs N]

--tessel measures another build of Tessel.exe (an older one, say). Exits 0
and says why when Wine, Xorg or the 64-bit build is missing, so that
`make bench` goes on.
"""

import argparse
import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import winesession  # noqa: E402
from winesession import Monitor, Session, SessionError, windows_path  # noqa: E402

RUNS = 10
WINDOWS = 200
TIMEOUT = 300
WORK = os.path.join(ROOT, "build", "bench-wine-rules")
TESSEL = os.path.join(ROOT, "build", "win64", "Tessel.exe")
HELPER = os.path.join(ROOT, "build", "win64", "e2e_helper.exe")
RULE_COUNTS = (0, 20, 1000)


def skip(reason):
    print(f"wine_rules: skipped: {reason}")
    return 0


def window_lines():
    """The other program's windows, in the helper's format: shown and hidden
    by turns, each well inside the work area."""
    lines = []
    for i in range(WINDOWS):
        left, top = 100 + (i % 20) * 40, 100 + (i % 10) * 30
        show = "normal" if i % 2 == 0 else "hidden"
        lines.append(f"Report{i % 12}Window\tQuarterly figures {i}.xlsx - Spreadsheet\t"
                     f"{left}\t{top}\t800\t500\t{show}\toverlapped\tA0C4E8\n")
    return lines


def rule_lines(count):
    lines = []
    for i in range(count):
        if i % 4 == 0:
            lines.append(f"*Invoice {i}*=*\n")
        else:
            lines.append(f"*=App{i}Frame\n")
    return lines


def timed_run(session, tessel, args):
    started = time.perf_counter()
    code = session.finish(session.start(tessel, args), TIMEOUT)
    elapsed = time.perf_counter() - started
    if code != 0:
        raise SessionError(f"Tessel.exe {' '.join(args)} exited with {code}, not 0")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tessel", default=TESSEL, help="the Tessel.exe to measure")
    parser.add_argument("--runs", type=int, default=RUNS, help="rounds after the warm-up round")
    options = parser.parse_args()
    tessel = os.path.abspath(options.tessel)

    reason = winesession.why_not_here([tessel, HELPER])
    if reason:
        return skip(reason)

    os.makedirs(WORK, exist_ok=True)
    arguments = {}
    for count in RULE_COUNTS:
        if count == 0:
            arguments[count] = []
            continue
        path = os.path.join(WORK, f"rules{count}.txt")
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.writelines(rule_lines(count))
        arguments[count] = ["-e", windows_path(path)]

    times = {count: [] for count in RULE_COUNTS}
    stem = os.path.join(WORK, "desk")
    started = time.monotonic()
    with Session(WORK, HELPER, display=76, outputs=1) as session:
        session.set_layout([Monitor((0, 0, 1920, 1080), primary=True)])
        session.install_helper(stem + ".exe")
        with open(stem + ".windows", "w", encoding="utf-8", newline="") as f:
            f.writelines(window_lines())
        print(f"wine_rules: X display :{session.display}, session ready after {time.monotonic() - started:.1f} s; "
              f"{options.runs} rounds of {len(RULE_COUNTS)} paired runs beside {WINDOWS} windows; {tessel}")
        for round_number in range(options.runs + 1):
            # A fresh copy of the other program each round: the helper ends
            # itself after three minutes, sooner than the slowest rounds add up.
            for suffix in (".quit", ".ready", ".report"):
                if os.path.exists(stem + suffix):
                    os.remove(stem + suffix)
            desk = session.start(stem + ".exe", cwd=WORK)
            try:
                session.wait_for_file(stem + ".ready", 60, "the helper with the windows did not start")
                # The first run after the helper's start pays for its settling;
                # it is not counted, and the order of the others turns each round.
                timed_run(session, tessel, [])
                for i in range(len(RULE_COUNTS)):
                    count = RULE_COUNTS[(round_number + i) % len(RULE_COUNTS)]
                    elapsed = timed_run(session, tessel, arguments[count])
                    if round_number > 0:
                        times[count].append(elapsed)
                if desk.poll() is not None:
                    raise SessionError("the helper with the windows ended during the round")
            finally:
                Session._touch(stem + ".quit")
                session.finish(desk, 10)

    print(f"{'rules that exempt nothing':<28}{'median':>10}{'min':>10}{'max':>10}{'ratio':>8}")
    for count in RULE_COUNTS:
        ratios = [t / base for t, base in zip(times[count], times[0])]
        print(f"{count:<28}{statistics.median(times[count]):>9.2f}s{min(times[count]):>9.2f}s"
              f"{max(times[count]):>9.2f}s{statistics.median(ratios):>8.2f}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except SessionError as error:
        print(f"wine_rules: failed: {error}")
        sys.exit(1)
