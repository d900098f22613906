"""One X server and one warm Wine session, shared by the end-to-end suite and
the demo.

Xorg runs with the dummy driver, whose RandR outputs Wine turns into monitors,
so that layouts with several monitors and negative coordinates can be set.
Work areas come from the root-window property _GTK_WORKAREAS_D0. Wine reads
both only when a RandR change reaches its running desktop process, so the
session keeps one helper alive for its whole life and, after every change,
polls the monitors until Wine reports what was set.

Wine's output always goes to a log file: services that a first start spawns
inherit it, and a pipe would then never reach its end.
"""

import contextlib
import errno
import functools
import ctypes
import os
import shutil
import signal
import subprocess
import time
from dataclasses import dataclass

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"

# Written into the prefix after it is made: what Wine made it.
PREFIX_STAMP = "tessel-e2e-wine.txt"

# The system folders of a 64-bit prefix, by the bitness of the program.
SYSTEM_FOLDERS = {"win64": "system32", "win32": "syswow64"}
# Wine's own copy of a library while a stand-in takes its place.
KEPT_SUFFIX = ".wine-own"

XORG_CONFIG = """\
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 262144
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 8192 4096
    EndSubSection
EndSection
"""

# A dummy output is disconnected, and Wine ignores it, until it has had a
# mode once; this small one is given to every output the session uses.
WAKE_SIZE = (640, 480)


class SessionError(Exception):
    """The X server or Wine could not be brought to the wanted state."""


@dataclass(frozen=True)
class Monitor:
    """A monitor in Windows coordinates (the primary's top-left is 0,0) and
    its work area; the work area defaults to the whole monitor."""
    rect: tuple
    work: tuple = None
    primary: bool = False

    @property
    def work_area(self):
        return self.work or self.rect


def missing_tools():
    """Names of the programs a session needs that this machine lacks."""
    tools = ["Xorg", "xrandr", "xprop", "gtf", "wine", "wineserver"]
    missing = [t for t in tools if not shutil.which(t)]
    if not os.path.exists("/usr/lib/xorg/modules/drivers/dummy_drv.so"):
        missing.append("xserver-xorg-video-dummy")
    return missing


def why_not_here(programs):
    """Why a session with these Windows programs cannot run on this machine
    (a program not built, a tool missing, no root); None when it can."""
    missing = [p for p in programs if not os.path.exists(p)]
    if missing:
        return f"{', '.join(missing)} not built (make win64)"
    tools = missing_tools()
    if tools:
        return f"{', '.join(tools)} not installed (scripts/setup.sh installs them)"
    if os.geteuid() != 0:
        return "Xorg with the dummy driver and a config file of its own needs root"
    return None


@functools.lru_cache(maxsize=None)
def kernel_runs_32bit():
    """Whether this machine's kernel runs 32-bit x86 programs at all; some
    virtual machines' kernels are built without that (no IA32 emulation),
    and every 32-bit program then fails with an exec format error."""
    try:
        subprocess.run([WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
    except OSError as error:
        return error.errno != errno.ENOEXEC
    except subprocess.SubprocessError:
        pass
    return True


def has_wine32():
    return os.access(WINE32_LOADER, os.X_OK) and kernel_runs_32bit()


WINE32_NOT_HERE = ("this machine's kernel cannot run 32-bit programs (exec format error: no IA32 emulation), "
                   "so wine32 cannot start the 32-bit build here; it runs on a kernel that can")


def why_no_wine32():
    """Why 32-bit programs cannot run under Wine here; None when they can."""
    if not os.access(WINE32_LOADER, os.X_OK):
        return "wine32 is not installed (scripts/setup.sh installs it)"
    return None if kernel_runs_32bit() else WINE32_NOT_HERE


def wine_command():
    """The loader that starts a Windows program. Debian's `wine` takes the
    32-bit loader whenever wine32 is installed, also for 64-bit programs, so
    where the kernel cannot run that one the 64-bit loader is called itself."""
    return "wine" if not os.access(WINE32_LOADER, os.X_OK) or kernel_runs_32bit() else WINE64_LOADER


def wine_identity():
    """What the installed Wine is: its version and which loaders are there.
    A prefix made by another Wine, or before wine32 came or went, is not
    to be trusted: Wine upgrades it in place on first use, after which
    32-bit programs fail to load kernel32.dll."""
    try:
        version = subprocess.run([wine_command(), "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        version = "unknown"
    lines = [f"version {version}"]
    for loader in (WINE64_LOADER, WINE32_LOADER):
        try:
            info = os.stat(loader)
            lines.append(f"{loader} {info.st_size} {int(info.st_mtime)}")
        except OSError:
            lines.append(f"{loader} absent")
    return "\n".join(lines) + "\n"


def read_report(path):
    """Reads a helper's report (its .ready or .report file)."""
    report = {"windows": {}, "moves": {}, "start": 0, "cwd": ""}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "start":
                report["start"] = int(fields[1])
            elif fields[0] == "cwd":
                report["cwd"] = fields[1]
            elif fields[0] == "window":
                index = int(fields[1])
                report["windows"][index] = {
                    "rect": tuple(int(v) for v in fields[2:6]),
                    "visible": fields[6] == "1", "iconic": fields[7] == "1", "pid": int(fields[8]),
                    "zoomed": fields[9:10] == ["1"]}
            elif fields[0] == "move":
                report["moves"].setdefault(int(fields[1]), []).append(
                    (int(fields[2]), tuple(int(v) for v in fields[3:7])))
    return report


def windows_path(path):
    """The default prefix maps drive Z: to the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _die_with_parent():
    """Runs in the child before exec: if the runner is killed outright, its
    X server and Wine programs get SIGTERM instead of living on."""
    PR_SET_PDEATHSIG = 1
    with contextlib.suppress(Exception):
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def _kill_group(process, grace=3.0):
    if process is None or process.poll() is not None:
        return
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGTERM)
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def _free_display(first):
    """The first display number from `first` on that no live server holds;
    a lock left by a server that died is removed."""
    for number in range(first, first + 20):
        lock = f"/tmp/.X{number}-lock"
        try:
            with open(lock) as f:
                pid = int(f.read().strip() or 0)
        except FileNotFoundError:
            if not os.path.exists(f"/tmp/.X11-unix/X{number}"):
                return number
            continue
        except ValueError:
            pid = 0
        alive = pid > 0
        if alive:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                alive = False
            except PermissionError:
                pass
        if not alive:
            with contextlib.suppress(FileNotFoundError):
                os.remove(lock)
            with contextlib.suppress(FileNotFoundError):
                os.remove(f"/tmp/.X11-unix/X{number}")
            return number
    raise SessionError(f"no free X display between :{first} and :{first + 19}")


class Session:
    """Xorg on its own display plus a wineserver on its own prefix.

    Use as a context manager: leaving it, normally or by an exception, ends
    every process the session started."""

    def __init__(self, work_dir, helper_exe, display=73, prefix=None, outputs=3, win_version="win10",
                 unmanaged=("Tessel.exe", "failure_probe.exe", "maximised.exe")):
        self.work = os.path.abspath(work_dir)
        self.helper_exe = os.path.abspath(helper_exe)
        self.wanted_display = display
        self.prefix = os.path.abspath(prefix or os.path.join(self.work, "wineprefix"))
        self.outputs = outputs
        self.win_version = win_version
        self.unmanaged = unmanaged
        self.xorg = None
        self.keepalive = None
        self.display = None
        self.layout = None
        self.log_path = os.path.join(self.work, "wine.log")
        self._log = None
        self._processes = []

    # --- life cycle -------------------------------------------------------

    def __enter__(self):
        os.makedirs(self.work, exist_ok=True)
        self._log = open(self.log_path, "ab")
        # A terminated runner (a test timeout) must still clean up.
        self._old_sigterm = signal.signal(signal.SIGTERM, self._on_sigterm)
        try:
            self._start_xorg()
            self._start_wine()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    @staticmethod
    def _on_sigterm(signum, frame):
        raise SystemExit(128 + signum)

    def close(self):
        for process in self._processes:
            _kill_group(process, grace=1.0)
        self._processes.clear()
        if self.keepalive is not None:
            self._touch(self.keepalive_stem + ".quit")
            try:
                self.keepalive.wait(3)
            except subprocess.TimeoutExpired:
                pass
            _kill_group(self.keepalive, grace=1.0)
            self.keepalive = None
        if self.display is not None:
            with contextlib.suppress(Exception):
                subprocess.run(["wineserver", "-k"], env=self.env, stdout=self._log, stderr=self._log, timeout=20)
        _kill_group(self.xorg)
        self.xorg = None
        if self._log:
            self._log.close()
            self._log = None
        with contextlib.suppress(Exception):
            signal.signal(signal.SIGTERM, self._old_sigterm)

    # --- X server ---------------------------------------------------------

    def _start_xorg(self):
        self.display = _free_display(self.wanted_display)
        config = os.path.join(self.work, "xorg.conf")
        with open(config, "w") as f:
            f.write(XORG_CONFIG)
        xlog = open(os.path.join(self.work, "xorg.out"), "wb")
        self.xorg = subprocess.Popen(
            ["Xorg", f":{self.display}", "-config", config, "-noreset", "-nolisten", "tcp", "-novtswitch",
             "-sharevts", "-logfile", os.path.join(self.work, "xorg.log")],
            stdin=subprocess.DEVNULL, stdout=xlog, stderr=xlog, start_new_session=True,
            preexec_fn=_die_with_parent)
        xlog.close()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.xorg.poll() is not None:
                raise SessionError(f"Xorg :{self.display} exited with {self.xorg.returncode}; see "
                                   f"{self.work}/xorg.log")
            if os.path.exists(f"/tmp/.X11-unix/X{self.display}") and self._x(["xrandr", "-q"], check=False) == 0:
                break
            time.sleep(0.1)
        else:
            raise SessionError(f"Xorg :{self.display} did not answer within 20 s")
        self._add_modes()

    def _x(self, argv, check=True):
        env = dict(os.environ, DISPLAY=f":{self.display}")
        result = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, timeout=30)
        if check and result.returncode != 0:
            raise SessionError(f"{' '.join(argv)} failed: {result.stderr.strip()}")
        return result.returncode

    def _mode(self, width, height):
        """Creates the mode WxH once and gives it to every output in use."""
        name = f"e2e_{width}x{height}"
        if name in self._modes:
            return name
        result = subprocess.run(["gtf", str(width), str(height), "30", "-x"], stdout=subprocess.PIPE, text=True,
                                check=True)
        line = next(l for l in result.stdout.splitlines() if l.strip().startswith("Modeline"))
        timings = line.split()[2:]
        self._x(["xrandr", "--newmode", name] + timings)
        for i in range(self.outputs):
            self._x(["xrandr", "--addmode", f"DUMMY{i}", name])
        self._modes.add(name)
        return name

    def _add_modes(self):
        self._modes = set()
        wake = self._mode(*WAKE_SIZE)
        argv = ["xrandr"]
        for i in range(self.outputs):
            argv += ["--output", f"DUMMY{i}", "--mode", wake, "--pos", f"{i * WAKE_SIZE[0]}x0"]
        self._x(argv)

    # --- Wine -------------------------------------------------------------

    @property
    def env(self):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                   DISPLAY=f":{self.display}", WINEDLLOVERRIDES="mscoree,mshtml=")
        if wine_command() != "wine":
            # So that Wine starts every further process with the same loader.
            env["WINELOADER"] = wine_command()
        return env

    def _start_wine(self):
        # A wineserver left by an earlier run on this prefix talks to a dead display.
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=self._log, stderr=self._log, timeout=30)
        identity = wine_identity()
        stamp = os.path.join(self.prefix, PREFIX_STAMP)
        fresh = not os.path.exists(os.path.join(self.prefix, "system.reg"))
        if not fresh:
            try:
                with open(stamp, encoding="utf-8") as f:
                    fresh = f.read() != identity
            except OSError:
                fresh = True
            if fresh:
                shutil.rmtree(self.prefix)
        if fresh:
            os.makedirs(self.prefix, exist_ok=True)
            result = subprocess.run([wine_command(), "wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL, stdout=self._log,
                                    stderr=self._log, timeout=180)
            if result.returncode != 0:
                raise SessionError(f"wineboot -i failed with {result.returncode}; see {self.log_path}")
            with open(stamp, "w", encoding="utf-8") as f:
                f.write(identity)
        else:
            self._restore_system_libraries()
        # Persistent for a short while only, so that a runner killed outright
        # leaves no wineserver behind for long.
        subprocess.run(["wineserver", "-p10"], env=self.env, stdout=self._log, stderr=self._log, timeout=30)
        self._write_registry()
        self.keepalive_stem = os.path.join(self.work, "keepalive")
        for suffix in (".quit", ".ready", ".report"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.keepalive_stem + suffix)
        self.install_helper(self.keepalive_stem + ".exe")
        self.keepalive = self.start(self.keepalive_stem + ".exe", track=False)
        self.wait_for_file(self.keepalive_stem + ".ready", 60, "the keep-alive helper did not start")

    def _write_registry(self):
        # Windows 10 makes Tessel ask the desktop window manager, as it would
        # on a current system. The windows of the unmanaged programs are not
        # handed to the X side's window management: closing a managed message
        # box costs a 2 s wait without a window manager, and unmanaged windows
        # get a frame drawn by Wine, which screenshots want.
        reg = os.path.join(self.work, "settings.reg")
        text = ("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Wine]\r\n"
                f"\"Version\"=\"{self.win_version}\"\r\n\r\n")
        for exe in self.unmanaged:
            text += (f"[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\{exe}\\X11 Driver]\r\n"
                     "\"Managed\"=\"N\"\r\n\r\n")
        with open(reg, "w", encoding="utf-16") as f:
            f.write(text)
        self.run_wine(["regedit", "/S", windows_path(reg)], timeout=60)
        # A fault that no handler takes would start winedbg, which attaches
        # and ends the program; with no debugger to start, the platform's
        # unhandled-exception filter answers as Windows does without one,
        # and the program's own outermost handler reports the fault. The
        # key lives in both registry views, one for each bitness; regedit,
        # a 32-bit program where wine32 is installed, writes only its own.
        aedebug = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"
        for view in ("/reg:64", "/reg:32"):
            self.reg_add(aedebug, "Debugger", "", view)
            self.reg_add(aedebug, "Auto", "1", view)

    def reg_add(self, key, name, data, view="/reg:64"):
        """Sets a string value in the registry view `view`."""
        code = self.run_wine(["reg", "add", key, "/v", name, "/d", data, "/f", view])
        if code != 0:
            raise SessionError(f"wine reg add {key} /v {name} {view} failed with {code}")

    def _system_file(self, target, name):
        return os.path.join(self.prefix, "drive_c", "windows", SYSTEM_FOLDERS[target], name)

    @contextlib.contextmanager
    def stand_in_library(self, target, library):
        """Puts `library` in place of Wine's own library of that name in the
        system folder that programs of `target` (win32, win64) load from, and
        puts Wine's file back on leaving, however it is left. Wine loads a
        real library found there even unasked, so it must not stay. Files
        are swapped by renaming: a program still running keeps the file it
        mapped."""
        path = self._system_file(target, os.path.basename(library))
        kept = path + KEPT_SUFFIX
        if not os.path.exists(kept):
            shutil.copy2(path, kept)
        shutil.copyfile(library, path + ".new")
        os.replace(path + ".new", path)
        try:
            yield
        finally:
            os.replace(kept, path)

    def _restore_system_libraries(self):
        """Puts back Wine's libraries that a runner killed outright left
        replaced by a stand-in."""
        for folder in SYSTEM_FOLDERS.values():
            directory = os.path.join(self.prefix, "drive_c", "windows", folder)
            with contextlib.suppress(FileNotFoundError):
                for name in os.listdir(directory):
                    if name.endswith(KEPT_SUFFIX):
                        os.replace(os.path.join(directory, name), os.path.join(directory, name[:-len(KEPT_SUFFIX)]))

    def install_helper(self, path, helper=None):
        """Puts a copy of the helper (the session's, or `helper`) at `path`;
        the helper reads its window list from the file named like itself, so
        each copy plays its own part."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)
        shutil.copyfile(helper or self.helper_exe, path)

    def start(self, exe, args=(), cwd=None, track=True, env=None, stdout=None):
        """Starts a Windows program in the session, with `env` added to the
        session's environment and its standard output to `stdout` (a file,
        subprocess.PIPE, or the session's log); returns the Popen."""
        process = subprocess.Popen([wine_command(), exe, *args], env=dict(self.env, **(env or {})), cwd=cwd or self.work,
                                   stdin=subprocess.DEVNULL, stdout=stdout or self._log, stderr=self._log,
                                   start_new_session=True, preexec_fn=_die_with_parent)
        if track:
            self._processes.append(process)
        return process

    def finish(self, process, timeout):
        """Waits for a program started with `start`; returns its exit code or
        None when it had to be killed."""
        try:
            code = process.wait(timeout)
        except subprocess.TimeoutExpired:
            _kill_group(process, grace=1.0)
            code = None
        if process in self._processes:
            self._processes.remove(process)
        return code

    def run_wine(self, argv, timeout=30, cwd=None):
        code = self.finish(self.start(argv[0], argv[1:], cwd=cwd), timeout)
        if code is None:
            raise SessionError(f"wine {' '.join(argv)} did not end within {timeout} s")
        return code

    @staticmethod
    def _touch(path):
        with contextlib.suppress(OSError):
            open(path, "w").close()

    @staticmethod
    def wait_for_file(path, timeout, message):
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                raise SessionError(f"{message} (no {path} after {timeout} s)")
            time.sleep(0.02)

    # --- monitors and work areas -----------------------------------------

    def monitors(self):
        """The monitors as Wine reports them: a list of (rect, work, primary)."""
        out = os.path.join(self.work, "monitors.txt")
        with contextlib.suppress(FileNotFoundError):
            os.remove(out)
        self.run_wine([self.helper_exe, "--monitors", windows_path(out)])
        found = []
        with open(out, encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if fields[0] == "monitor":
                    numbers = [int(v) for v in fields[1:9]]
                    found.append((tuple(numbers[0:4]), tuple(numbers[4:8]), fields[9] == "1"))
        return sorted(found)

    def set_layout(self, monitors):
        """Sets the monitors (Windows coordinates) and their work areas and
        waits until Wine reports them. Answers whether Wine took the work
        areas too; a layout whose work areas Wine cannot take is still set."""
        if len(monitors) > self.outputs:
            raise SessionError(f"layout has {len(monitors)} monitors, the session {self.outputs} outputs")
        if sum(m.primary for m in monitors) != 1:
            raise SessionError("a layout needs exactly one primary monitor")
        left = min(m.rect[0] for m in monitors)
        top = min(m.rect[1] for m in monitors)
        areas = []
        for m in monitors:
            x0, y0, x1, y1 = m.work_area
            areas += [x0 - left, y0 - top, x1 - x0, y1 - y0]
        # Work areas are read at the RandR change, so they go first.
        self._x(["xprop", "-root", "-f", "_GTK_WORKAREAS_D0", "32c", "-set", "_GTK_WORKAREAS_D0",
                 ",".join(str(v) for v in areas)])
        self._x(["xrandr", "-q"])
        names = [self._mode(m.rect[2] - m.rect[0], m.rect[3] - m.rect[1]) for m in monitors]
        # Passing through the small mode makes sure a change reaches Wine even
        # when the layout itself stays as it was.
        self._x(["xrandr", "--output", "DUMMY0", "--mode", self._mode(*WAKE_SIZE), "--pos", "0x0"])
        argv = ["xrandr"]
        for i, (m, name) in enumerate(zip(monitors, names)):
            argv += ["--output", f"DUMMY{i}", "--mode", name, "--pos", f"{m.rect[0] - left}x{m.rect[1] - top}"]
            if m.primary:
                argv.append("--primary")
        for i in range(len(monitors), self.outputs):
            argv += ["--output", f"DUMMY{i}", "--off"]
        self._x(argv)

        want_rects = sorted(m.rect for m in monitors)
        want = sorted((m.rect, m.work_area, m.primary) for m in monitors)
        deadline = time.monotonic() + 20
        got = []
        rects_seen_at = None
        while time.monotonic() < deadline:
            got = self.monitors()
            if got == want:
                self.layout = list(monitors)
                return True
            if sorted(g[0] for g in got) == want_rects:
                # Monitors are right; give the work areas a few more polls.
                rects_seen_at = rects_seen_at or time.monotonic()
                if time.monotonic() - rects_seen_at > 3:
                    self.layout = list(monitors)
                    return False
            time.sleep(0.1)
        raise SessionError(f"Wine did not take the monitor layout: wanted {want}, got {got}")

    def screenshot(self, path):
        self._x(["import", "-window", "root", path])
