#!/usr/bin/env python3
"""Makes the download, build/dist/Tessel-<version>.zip, from the two Windows
builds: both executables without debug sections, the user guide as README.txt
and its Japanese version as README-ja.txt, the example rules file and the
checksums of the executables and the guides.

The zip is the same bytes for the same commit wherever and whenever it is
made: every entry carries the commit's time (SOURCE_DATE_EPOCH when set, else
the commit time of HEAD), the same permissions, in the same order.
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time
import unicodedata
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The README is the user guide down to this line, the developer part after it.
GUIDE_END = "<!-- The developer part follows; README.txt in the download ends above this line. -->"
# The Japanese guide is the whole file.
JAPANESE_GUIDE = os.path.join("docs", "guide.ja.md")

# (name in the zip, build preset, strip of that toolchain)
EXECUTABLES = [
    ("Tessel.exe", "win32", "i686-w64-mingw32-strip"),
    ("x64/Tessel.exe", "win64", "x86_64-w64-mingw32-strip"),
]


def project_version(root=ROOT):
    """The project's version, set once in CMakeLists.txt."""
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"^project\(\s*Tessel\s+VERSION\s+([0-9.]+)", f.read(), re.M)
    if not found:
        sys.exit("dist: no project(Tessel VERSION ...) in CMakeLists.txt")
    return found.group(1)


def zip_name(root=ROOT):
    return f"Tessel-{project_version(root)}.zip"


def source_date_epoch(root=ROOT):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", root, "log", "-1", "--format=%ct", "HEAD"],
                             capture_output=True, text=True, check=True).stdout
        return int(out.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        sys.exit("dist: not a git checkout; set SOURCE_DATE_EPOCH to the time the zip's entries should carry")


def plain_line(line):
    """One line of the guide without its Markdown marks. Lines indented by four
    spaces are commands and stay exactly as written."""
    if line.startswith("    "):
        return line
    # A link that shows its own address keeps it once.
    line = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", lambda m: m[1] if m[1] == m[2] else f"{m[1]} ({m[2]})", line)
    return line.replace("`", "").replace("**", "")


def readme_guide_part(readme_path=os.path.join(ROOT, "README.md")):
    """The Markdown of README.md above the developer part."""
    with open(readme_path, encoding="utf-8") as f:
        text = f.read()
    if GUIDE_END not in text:
        sys.exit(f"dist: README.md has no line {GUIDE_END!r}")
    return text.split(GUIDE_END)[0]


def japanese_guide_markdown(root=ROOT):
    with open(os.path.join(root, JAPANESE_GUIDE), encoding="utf-8") as f:
        return f.read()


def user_guide(readme_path=os.path.join(ROOT, "README.md")):
    """README.txt: the guide part of README.md as plain text."""
    return plain_text(readme_guide_part(readme_path))


def japanese_user_guide(root=ROOT):
    """README-ja.txt: docs/guide.ja.md as plain text."""
    return plain_text(japanese_guide_markdown(root))


def columns(text):
    """The columns a text takes in Notepad: Japanese letters take two."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def plain_text(markdown):
    """A guide as plain text with CRLF line ends, UTF-8 with a mark so that
    every Notepad reads its Japanese right (older ones need the mark)."""
    out = []
    for line in markdown.rstrip().splitlines():
        heading = re.match(r"^(#+) (.*)$", line)
        if heading:
            title = plain_line(heading.group(2))
            out += [title, ("=" if len(heading.group(1)) == 1 else "-") * columns(title)]
        else:
            out.append(plain_line(line).rstrip())
    return "\ufeff" + "\r\n".join(out) + "\r\n"


def stripped(exe, strip, scratch):
    """The executable without symbols and debug sections. strip writes a fresh
    PE time stamp unless SOURCE_DATE_EPOCH is set; 0 keeps the linker's none."""
    out = os.path.join(scratch, os.path.basename(os.path.dirname(exe)) + ".exe")
    subprocess.run([strip, "--strip-all", "-o", out, exe], check=True, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
    with open(out, "rb") as f:
        return f.read()


def write_zip(path, entries, epoch):
    """entries: (name, bytes) in the order they are to stand in the zip."""
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))  # the earliest time a zip can hold
    partial = path + ".partial"
    with zipfile.ZipFile(partial, "w") as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            z.writestr(info, data, compresslevel=9)
    os.replace(partial, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=ROOT, help="the source tree (README.md, dist/, CMakeLists.txt)")
    parser.add_argument("--build", help="the directory holding the win32 and win64 builds (default: SOURCE/build)")
    parser.add_argument("--out", help="where the zip goes (default: BUILD/dist)")
    options = parser.parse_args()
    build = options.build or os.path.join(options.source, "build")
    out_dir = options.out or os.path.join(build, "dist")

    entries = []
    with tempfile.TemporaryDirectory() as scratch:
        for name, preset, strip in EXECUTABLES:
            exe = os.path.join(build, preset, "Tessel.exe")
            if not os.path.exists(exe):
                sys.exit(f"dist: {exe} not built (cmake --preset {preset} && cmake --build --preset {preset})")
            entries.append((name, stripped(exe, strip, scratch)))
    entries.append(("README.txt", user_guide(os.path.join(options.source, "README.md")).encode("utf-8")))
    entries.append(("README-ja.txt", japanese_user_guide(options.source).encode("utf-8")))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in entries)
    with open(os.path.join(options.source, "dist", "rules-example.txt"), "rb") as f:
        entries.append(("rules-example.txt", f.read()))
    entries.append(("SHA256SUMS", sums.encode("ascii")))

    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, zip_name(options.source))
    write_zip(path, entries, source_date_epoch(options.source))
    with open(path, "rb") as f:
        print(f"{path}\n{hashlib.sha256(f.read()).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
