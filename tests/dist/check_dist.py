#!/usr/bin/env python3
"""Checks the download that `make dist` wrote: its entries, the checksums, the
executables (machine, no debug sections or symbols, no time stamp, the version
block and the manifest), the two guides, that they name the same things, and
the example rules; then runs the 32-bit executable from it through the
end-to-end smoke scenarios under Wine.

Exit code 0 when every check passed, 1 when one failed, 77 when there is no
zip to check or the smoke scenarios cannot run here (the reason is printed).
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import dist  # noqa: E402
from pe_file import PE  # noqa: E402

SKIP_EXIT = 77
ENTRIES = ["Tessel.exe", "x64/Tessel.exe", "README.txt", "README-ja.txt", "rules-example.txt", "SHA256SUMS"]
SUMMED = ["Tessel.exe", "x64/Tessel.exe", "README.txt", "README-ja.txt"]
# (entry, PE machine, objdump of that toolchain)
EXECUTABLES = [("Tessel.exe", 0x14C, "i686-w64-mingw32-objdump"),
               ("x64/Tessel.exe", 0x8664, "x86_64-w64-mingw32-objdump")]
SMOKE = ["off the right edge", "launch moves only the launched program's windows",
         "the example rules file of the download", "version block and manifest"]
RT_VERSION, RT_MANIFEST = 16, 24


def version_blocks(data, offset=0, end=None):
    """The blocks of a version resource: (key, value bytes, is text, children)."""
    end = len(data) if end is None else end
    while offset + 6 <= end:
        length, value_length, is_text = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value = data[value_at:value_at + value_length * (2 if is_text else 1)]
        children_at = (value_at + len(value) + 3) & ~3
        yield key, value, is_text, (children_at, offset + length)
        offset = (offset + length + 3) & ~3


def version_facts(resource):
    """The fixed file and product versions and the strings of each table."""
    facts = {}
    for key, value, _, (start, end) in version_blocks(resource):
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", value)
        if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
            return facts
        facts["fixed"] = tuple(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
                               for ms, ls in ((file_ms, file_ls), (product_ms, product_ls)))
        for info, _, _, (info_start, info_end) in version_blocks(resource, start, end):
            if info != "StringFileInfo":
                continue
            for table, _, _, (table_start, table_end) in version_blocks(resource, info_start, info_end):
                for name, text, _, _ in version_blocks(resource, table_start, table_end):
                    facts[(table, name)] = text.decode("utf-16-le").rstrip("\0")
    return facts


# --- the checks ---------------------------------------------------------------

def check_entries(archive):
    infos = archive.infolist()
    failures = []
    if [i.filename for i in infos] != ENTRIES:
        failures.append(f"entries {[i.filename for i in infos]}, wanted {ENTRIES}")
    failures += [f"{i.filename}: permissions {i.external_attr >> 16:o}, wanted 100644"
                 for i in infos if i.external_attr >> 16 != 0o100644]
    if len({i.date_time for i in infos}) != 1:
        failures.append(f"entries carry different times: {sorted({i.date_time for i in infos})}")
    return failures


def check_checksums(unpacked, files):
    lines = files["SHA256SUMS"].decode("ascii").splitlines()
    wanted = [f"{hashlib.sha256(files[name]).hexdigest()}  {name}" for name in SUMMED]
    failures = [] if lines == wanted else [f"SHA256SUMS {lines}, wanted {wanted}"]
    if shutil.which("sha256sum"):
        result = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=unpacked,
                                capture_output=True, text=True)
        if result.returncode != 0:
            failures.append(f"sha256sum -c: {result.stdout.strip()} {result.stderr.strip()}")
    return failures


def check_executable(name, machine, objdump, data, path, version):
    failures = []
    pe = PE(data)
    if pe.machine != machine:
        failures.append(f"{name}: machine {pe.machine:#x}, wanted {machine:#x}")
    if pe.timestamp != 0:
        failures.append(f"{name}: time stamp {pe.timestamp}, wanted none (0)")
    if pe.symbols:
        failures.append(f"{name}: a symbol table of {pe.symbols} entries")
    sections = subprocess.run([objdump, "-h", path], capture_output=True, text=True, check=True).stdout
    debug = re.findall(r"^\s*\d+\s+(\.z?debug\S*)", sections, re.M)
    if debug:
        failures.append(f"{name}: debug sections {debug}")
    if not re.search(r"^\s*\d+\s+\.rsrc\s", sections, re.M):
        failures.append(f"{name}: objdump -h shows no .rsrc section")

    block = pe.resource(RT_VERSION, 1)
    facts = version_facts(block) if block else {}
    wanted = {"fixed": (version, version), ("041103A4", "FileVersion"): version,
              ("041103A4", "ProductVersion"): version, ("041103A4", "OriginalFilename"): "Tessel.exe"}
    failures += [f"{name}: version block {key} is {facts.get(key)!r}, wanted {value!r}"
                 for key, value in wanted.items() if facts.get(key) != value]
    manifest = (pe.resource(RT_MANIFEST, 1) or b"").decode("utf-8", "replace")
    if not re.search(rf'<assemblyIdentity type="win32" name="Tessel" version="{re.escape(version)}"/>', manifest):
        failures.append(f"{name}: the manifest names no Tessel of version {version}")
    return failures


def check_guide_file(name, data, source, wanted):
    """A guide of the zip: UTF-8 with a mark, CRLF line ends, plain text made
    from its Markdown source."""
    failures = []
    if not data.startswith(b"\xef\xbb\xbf"):
        failures.append(f"{name}: no UTF-8 mark")
    if re.search(rb"(?<!\r)\n|\r(?!\n)", data):
        failures.append(f"{name}: a line end other than CRLF")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        return failures + [f"{name}: not UTF-8 ({e})"]
    if text != wanted:
        failures.append(f"{name}: not the guide of {source} (make dist again)")
    failures += [f"{name}: Markdown left in it: {mark!r}" for mark in ("`", "<!--", "](") if mark in text]
    if "make test" in text:
        failures.append(f"{name}: holds the developer part")
    return failures


# What each guide names, from its Markdown outside the command lines (lines
# indented by four spaces, the same in both): options, rules, the names of
# failures and plain words (the list-mode decisions, commands) stand in
# backticks; the system libraries a report may name end in .dll; the texts of
# Tessel's reports are the quoted texts with Japanese in them ("..." in the
# English guide, which quotes nothing else in Japanese; 「...」 in the
# Japanese one, which puts the names of Windows' menus and buttons in [...]
# and quotes nothing else). Each finder takes (prose, backticked, quoted).
JAPANESE = r"[\u3000-\u30ff\u4e00-\u9fff\uff00-\uffef]"
NAMED = {
    "option": lambda _, spans, __: {o for s in spans for o in re.findall(r"(?<!\S)[-/][A-Za-z](?!\S)", s)},
    "rule": lambda _, spans, __: {s for s in spans if re.fullmatch(r"[^\s=]*=[^\s=]+", s)},
    "failure": lambda _, spans, __: {s for s in spans if re.fullmatch(r"E[A-Z][A-Za-z]+", s)},
    "word": lambda _, spans, __: {s for s in spans if re.fullmatch(r"[a-z]+( [a-z]+)*", s)},
    "library": lambda prose, _, __: set(re.findall(r"\b[\w-]+\.dll\b", prose)),
    "report text": lambda _, __, quoted: {q for q in quoted if re.search(JAPANESE, q)},
}


def named_in(markdown, quotes):
    """{kind: the set of things of that kind that the guide names}."""
    prose = "\n".join(line for line in markdown.splitlines() if not line.startswith("    "))
    prose = re.sub(r"\s+", " ", prose)  # a quoted text may run over a line end
    spans = re.findall(r"`([^`]+)`", prose)
    quoted = re.findall(quotes, re.sub(r"`[^`]+`", "", prose))
    return {kind: find(prose, spans, quoted) for kind, find in NAMED.items()}


def check_guides_in_step(english, japanese):
    failures = []
    named = {"README.md": named_in(english, r'"([^"]+)"'), dist.JAPANESE_GUIDE: named_in(japanese, r"「([^」]+)」")}
    for (one, has), (other, lacks) in (tuple(named.items()), tuple(reversed(named.items()))):
        for kind in NAMED:
            failures += [f"{one} names the {kind} {thing!r}, {other} does not"
                         for thing in sorted(has[kind] - lacks[kind])]
    return failures


def check_texts(files):
    failures = check_guide_file("README.txt", files["README.txt"], "README.md", dist.user_guide())
    failures += check_guide_file("README-ja.txt", files["README-ja.txt"], dist.JAPANESE_GUIDE,
                                 dist.japanese_user_guide())
    text = files["README.txt"].decode("utf-8", "replace")
    japanese = files["README-ja.txt"].decode("utf-8", "replace")
    failures += [f"README.txt: says nothing of {word}" for word in
                 ("EFOpenError", "EEncodingError", "EMaskException", "C06D007E", "C06D007F", "EOutOfMemory",
                  "EAccessViolation", "schtasks /create", "MSFT_TaskSessionStateChangeTrigger",
                  "Power-Troubleshooter", "Tessel.exe -l > windows.txt", "=Shell_*TrayWnd", "*=Progman",
                  "*=WorkerW", "shell:startup", "Tessel.exe -q", "EArgumentException", "EWatchError") if word not in text]

    rules = files["rules-example.txt"]
    with open(os.path.join(ROOT, "dist", "rules-example.txt"), "rb") as f:
        if rules != f.read():
            failures.append("rules-example.txt: not dist/rules-example.txt")
    if not rules.startswith(b"\xef\xbb\xbf"):
        failures.append("rules-example.txt: no UTF-8 mark")
    lines = rules[3:].decode("utf-8").split("\r\n")
    if lines[-1] != "" or any(not line or "=" not in line for line in lines[:-1]):
        failures.append(f"rules-example.txt: lines {lines}, wanted TitleMask=ClassMask lines ended by CRLF")
    failures += [f"{name}: does not explain the example rule {line!r}"
                 for name, guide in (("README.txt", text), ("README-ja.txt", japanese))
                 for line in lines[:-1] if f"    {line}\r\n" not in guide]
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zip", default=os.path.join(ROOT, "build", "dist", dist.zip_name()))
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "win64"),
                        help="the 64-bit build directory whose e2e_helper.exe drives the smoke scenarios")
    parser.add_argument("--work", required=True)
    parser.add_argument("--display", type=int, default=75)
    options = parser.parse_args()
    if not os.path.exists(options.zip):
        print(f"SKIP dist: {options.zip} not made (run: make dist)")
        return SKIP_EXIT

    unpacked = os.path.join(options.work, "unpacked")
    shutil.rmtree(unpacked, ignore_errors=True)
    with zipfile.ZipFile(options.zip) as archive:
        checks = [("entries, order, permissions and times", check_entries(archive))]
        archive.extractall(unpacked)
        files = {name: archive.read(name) for name in archive.namelist()}
    missing = [name for name in ENTRIES if name not in files]
    if missing:
        print(f"FAIL dist: {options.zip} lacks {missing}")
        return 1
    version = dist.project_version()
    checks.append(("SHA256SUMS", check_checksums(unpacked, files)))
    for name, machine, objdump in EXECUTABLES:
        checks.append((f"{name}: machine, sections, version block",
                       check_executable(name, machine, objdump, files[name], os.path.join(unpacked, name), version)))
    checks.append(("README.txt, README-ja.txt and rules-example.txt", check_texts(files)))
    checks.append(("the two guides name the same options, rules, failures, words, libraries and report texts",
                   check_guides_in_step(dist.readme_guide_part(), dist.japanese_guide_markdown())))
    failed = 0
    for what, failures in checks:
        print(f"{'FAIL' if failures else 'ok  '} {what}")
        for f in failures:
            print(f"     {f}")
        failed += bool(failures)
    sys.stdout.flush()

    smoke = [sys.executable, os.path.join(ROOT, "tests", "e2e", "run_e2e.py"), "--bin", options.bin,
             "--exe", os.path.join(unpacked, "Tessel.exe"), "--work", os.path.join(options.work, "e2e"),
             "--display", str(options.display)]
    for name in SMOKE:
        smoke += ["-k", name]
    code = subprocess.run(smoke).returncode
    if failed or code not in (0, SKIP_EXIT):
        return 1
    return code


if __name__ == "__main__":
    sys.exit(main())
