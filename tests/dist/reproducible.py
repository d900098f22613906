#!/usr/bin/env python3
"""Two clean builds of the same tree give the same bytes: copies of the
source tree at two paths of different lengths each build both Windows
executables and the zip from scratch, and every product is compared byte for
byte. The copies are removed when the products agree and kept for study when
they do not.

Exit code 0 when all agree, 1 when one differs or a build fails, 77 when the
mingw-w64 compilers are not installed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import dist  # noqa: E402

SKIP_EXIT = 77
PRODUCTS = ["build/win32/Tessel.exe", "build/win64/Tessel.exe", f"build/dist/{dist.zip_name()}"]
COMPILERS = ["i686-w64-mingw32-g++-posix", "x86_64-w64-mingw32-g++-posix"]


def source_files():
    """The files a commit of the tree would hold: tracked and not ignored."""
    try:
        out = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                             capture_output=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        sys.exit("reproducible: the source tree is no git checkout, so its files are not known")
    return [name for name in out.decode().split("\0") if name and os.path.isfile(os.path.join(ROOT, name))]


def build_copy(files, tree, epoch, log):
    for name in files:
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        shutil.copy2(os.path.join(ROOT, name), os.path.join(tree, name))
    # The builds run without SOURCE_DATE_EPOCH, as `make` runs them: the linker
    # would take it for the time stamp and hide one that is left in. The zip
    # gets the time of the tree's own commit, which the copies lack.
    build = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    steps = []
    for preset in ("win32", "win64"):
        steps += [(["cmake", "--preset", preset], build),
                  (["cmake", "--build", "--preset", preset, "--target", "Tessel", "-j2"], build)]
    steps.append(([sys.executable, "scripts/dist.py"], dict(build, SOURCE_DATE_EPOCH=str(epoch))))
    for step, env in steps:
        if subprocess.run(step, cwd=tree, env=env, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
            return f"{' '.join(step)} failed in {tree} (see {log.name})"
    return None


def first_difference(a, b):
    with open(a, "rb") as f:
        left = f.read()
    with open(b, "rb") as f:
        right = f.read()
    if left == right:
        return None
    at = next((i for i, (x, y) in enumerate(zip(left, right)) if x != y), min(len(left), len(right)))
    return f"{len(left)} and {len(right)} bytes, first difference at offset {at:#x}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", required=True)
    options = parser.parse_args()
    missing = [c for c in COMPILERS if not shutil.which(c)]
    if missing:
        print(f"SKIP reproducible: {', '.join(missing)} not installed (scripts/setup.sh installs them)")
        return SKIP_EXIT

    started = time.monotonic()
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    trees = [os.path.join(work, "one", "tessel"), os.path.join(work, "two", "a longer path", "tessel-copy")]
    files = source_files()
    epoch = dist.source_date_epoch(ROOT)
    os.makedirs(work)
    for number, tree in enumerate(trees, 1):
        with open(os.path.join(work, f"build-{number}.log"), "w") as log:
            error = build_copy(files, tree, epoch, log)
        if error:
            print(f"FAIL {error}")
            return 1

    failed = 0
    for product in PRODUCTS:
        difference = first_difference(*(os.path.join(tree, product) for tree in trees))
        print(f"{'FAIL' if difference else 'ok  '} {product} is the same in both builds"
              f"{': ' + difference if difference else ''}")
        failed += bool(difference)
    print(f"reproducible: {time.monotonic() - started:.0f} s")
    if failed:
        print(f"the two trees stay in {work} for study")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
