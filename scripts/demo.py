#!/usr/bin/env python3
"""The main job, shown: a virtual two-monitor desktop under Wine with a few
windows stuck off-screen, one run of Tessel.exe, and what it changed.

Prints a before/after table of the windows Tessel moved and writes the
screenshots build/demo-before.png and build/demo-after.png. Expects the
64-bit build in build/win64 (`make run` builds it first).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import winesession  # noqa: E402
from winesession import Monitor, Session, read_report  # noqa: E402

BIN = os.path.join(ROOT, "build", "win64")
BUILD = os.path.join(ROOT, "build")
WORK = os.path.join(BUILD, "demo")

# The primary with a taskbar along its bottom, and a smaller monitor right of it.
LAYOUT = [Monitor((0, 0, 1920, 1080), (0, 0, 1920, 1040), primary=True),
          Monitor((1920, 0, 3200, 1024))]

# class, title, (left, top, right, bottom), colour
WINDOWS = [
    ("Shell_TrayWnd", "", (0, 1040, 1920, 1080), "303030"),
    ("DemoApp", "Calendar: already in place", (1000, 100, 1700, 600), "B8D8B8"),
    ("DemoApp", "Notes: into the taskbar", (200, 700, 900, 1200), "F0E0A0"),
    ("DemoApp", "Mail: off the left edge", (-400, 50, 400, 450), "A0C4E8"),
    ("DemoApp", "Browser: off the right edge", (2600, 50, 3500, 450), "E8B0B0"),
    ("DemoApp", "Terminal: below the right monitor", (2000, 800, 2700, 1200), "C8C8C8"),
    ("DemoApp", "Dialog: lost far away", (4000, 2000, 4400, 2250), "D8B8E8"),
]


def monitor_of(rect):
    """Name of the monitor holding most of rect (ties go to the first)."""
    def overlap(m):
        left, top = max(rect[0], m.rect[0]), max(rect[1], m.rect[1])
        right, bottom = min(rect[2], m.rect[2]), min(rect[3], m.rect[3])
        return max(0, right - left) * max(0, bottom - top)
    best = max(range(len(LAYOUT)), key=lambda i: overlap(LAYOUT[i]))
    return "primary" if LAYOUT[best].primary else "right"


def fmt(rect):
    return "({}, {}, {}, {})".format(*rect)


def outline_monitors(png):
    """Draws each monitor's outline (yellow) and work area (dashed) on a
    screenshot, whose top-left is the top-left of all monitors together."""
    left = min(m.rect[0] for m in LAYOUT)
    top = min(m.rect[1] for m in LAYOUT)
    argv = ["convert", png, "-fill", "none", "-strokewidth", "6", "-stroke", "#FFD000"]
    for m in LAYOUT:
        argv += ["-draw", "rectangle {},{} {},{}".format(m.rect[0] - left + 3, m.rect[1] - top + 3,
                                                         m.rect[2] - left - 4, m.rect[3] - top - 4)]
    subprocess.run(argv + [png], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default=BIN, help="build directory with Tessel.exe and e2e_helper.exe")
    parser.add_argument("--helper", help="the helper program, if not the one in --bin")
    options = parser.parse_args()
    tessel = os.path.abspath(os.path.join(options.bin, "Tessel.exe"))
    helper = os.path.abspath(options.helper or os.path.join(options.bin, "e2e_helper.exe"))
    for path in (tessel, helper):
        if not os.path.exists(path):
            sys.exit(f"demo: {path} is missing; build it with: cmake --preset win64 && cmake --build --preset win64")
    missing = winesession.missing_tools() + [t for t in ("import", "convert") if not shutil.which(t)]
    if missing:
        sys.exit(f"demo: {', '.join(missing)} not installed (scripts/setup.sh installs them)")

    with Session(WORK, helper, display=74, outputs=len(LAYOUT), unmanaged=("Tessel.exe", "apps.exe")) as session:
        print(f"demo: virtual display :{session.display} with two monitors; primary 1920x1080 with a "
              f"taskbar, right 1280x1024", flush=True)
        session.set_layout(LAYOUT)
        stem = os.path.join(WORK, "apps")
        for suffix in (".ready", ".report", ".quit"):
            if os.path.exists(stem + suffix):
                os.remove(stem + suffix)
        session.install_helper(stem + ".exe")
        with open(stem + ".windows", "w", encoding="utf-8", newline="") as f:
            for cls, title, (l, t, r, b), colour in WINDOWS:
                style = "popup" if cls == "Shell_TrayWnd" else "overlapped"
                f.write(f"{cls}\t{title}\t{l}\t{t}\t{r - l}\t{b - t}\tnormal\t{style}\t{colour}\n")
        apps = session.start(stem + ".exe")
        try:
            session.wait_for_file(stem + ".ready", 30, "the sample windows did not appear")
            time.sleep(0.5)  # let them paint
            before_png = os.path.join(BUILD, "demo-before.png")
            session.screenshot(before_png)
            outline_monitors(before_png)

            started = time.monotonic()
            code = session.run_wine([tessel], timeout=60)
            took = time.monotonic() - started
            time.sleep(0.5)
            after_png = os.path.join(BUILD, "demo-after.png")
            session.screenshot(after_png)
            outline_monitors(after_png)
        finally:
            Session._touch(stem + ".quit")
            session.wait_for_file(stem + ".report", 10, "the sample windows did not report")
            session.finish(apps, 10)

    ready, final = read_report(stem + ".ready"), read_report(stem + ".report")
    rows, left_alone = [], []
    for index, (cls, title, _, _) in enumerate(WINDOWS):
        name = title.split(":")[0] if title else f"{cls} (taskbar)"
        before, after = ready["windows"][index]["rect"], final["windows"][index]["rect"]
        moves = len(final["moves"].get(index, []))
        if moves:
            rows.append((name, fmt(before), fmt(after), monitor_of(after), str(moves)))
        else:
            left_alone.append(name)

    print(f"\nTessel.exe ended with exit code {code} after {took:.2f} s and moved {len(rows)} windows:\n")
    header = ("Window", "Before (L, T, R, B)", "After (L, T, R, B)", "Monitor", "Moves")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths)] + rows:
        print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    print(f"\nLeft alone: {', '.join(left_alone)}.")
    print(f"Screenshots: {os.path.relpath(before_png, ROOT)}, {os.path.relpath(after_png, ROOT)}")
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
