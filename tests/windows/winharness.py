"""Runs the Windows build of the program under Wine for the Windows tests.

Each test module is one part of scripts/windows/test.sh and runs inside a
network namespace of its own (scripts/in-netns.sh, loopback only), with a
private Xvfb display started here. Wine's sockets are made by wineserver, so
the wineserver of a part must live in that part's namespace: every part
starts with none running and ends with `wineserver -k`.

The Wine prefix comes from WINEPREFIX (test.sh makes a fresh one per run);
without it a module makes its own, which takes a few seconds more.
"""

import json
import os
import queue
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "integration"))
import harness  # noqa: E402  (display, sockets and JPEG helpers of the Linux integration tests)
from harness import exchange, get, hold_port, jpeg_size, parse, wait_until  # noqa: E402,F401

BUILD_DIR = os.path.abspath(os.environ.get("ORVANTIS_WIN_BUILD_DIR", os.path.join(SOURCE_DIR, "build-windows")))
EXE = os.path.join(BUILD_DIR, "orvantis.exe")
KEYPROBE = os.path.join(BUILD_DIR, "tests-windows", "keyprobe.exe")
DATA_DIR = os.path.join(SOURCE_DIR, "data")
DATA_FILES = harness.DATA_FILES
GOLDEN_PAGE = os.path.join(SOURCE_DIR, "tests", "data", "control_page_welcome.html")
GOLDEN_STAMP = b"1765432109"
MAIN_TITLE = "Orvantis"

# The probe window's place and colour (see keyprobe.c).
PROBE_RECT = (40, 60, 320, 200)
PROBE_RGB = (200, 40, 90)

# DLLs that every Windows since 7 has.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "oleaut32.dll", "oleacc.dll", "comctl32.dll", "comdlg32.dll", "uxtheme.dll", "version.dll", "winspool.drv",
    "ws2_32.dll", "wsock32.dll", "msvcrt.dll", "rpcrt4.dll", "winmm.dll", "winhttp.dll", "imm32.dll",
    "msimg32.dll", "dwmapi.dll", "ntdll.dll",
}


def project_version():
    """The version CMake gives the packages and the version resource."""
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
        return re.search(r"project\(Orvantis VERSION ([0-9.]+)", f.read()).group(1)


def version_strings(path):
    """The StringFileInfo values of a Windows program's version resource,
    {"ProductName": ..., "CompanyName": ..., ...}."""
    with open(path, "rb") as f:
        data = f.read()
    values = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion"):
        at = data.find((key + "\0").encode("utf-16-le"))
        if at < 0:
            continue
        at += 2 * (len(key) + 1)
        while data[at:at + 2] == b"\0\0":  # padding to the value
            at += 2
        end = at
        while data[end:end + 2] != b"\0\0":
            end += 2
        values[key] = data[at:end].decode("utf-16-le")
    return values


def installer():
    """The installer that scripts/windows/build.sh made."""
    path = os.path.join(BUILD_DIR, "Orvantis-%s-Setup.exe" % project_version())
    assert os.path.isfile(path), "no %s (run scripts/windows/build.sh)" % path
    return path


def answer_header(status, content_type, length):
    """The header of the program's answers, byte for byte."""
    return ("HTTP/1.1 %d OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: %s\r\ncontent-length: %d\r\n"
            "Connection: close\r\n\r\n" % (status, content_type, length)).encode()


def as_golden_page(body):
    """The control page with its screenshot time stamp replaced by the one of
    the golden page, tests/data/control_page_welcome.html."""
    stamps = re.findall(rb"/getss(\d+)", body)
    assert len(stamps) == 1, body
    return body.replace(b"/getss" + stamps[0], b"/getss" + GOLDEN_STAMP)


def package_zip():
    """The user package that scripts/windows/build.sh made."""
    zips = [f for f in os.listdir(BUILD_DIR) if re.match(r"Orvantis-.*-Windows\.zip$", f)]
    assert len(zips) == 1, "expected one Orvantis-*-Windows.zip in %s, found %s" % (BUILD_DIR, zips)
    return os.path.join(BUILD_DIR, zips[0])


# --------------------------------------------------------------------- Wine --

class Wine:
    """The Wine prefix of this run and the environment its programs get."""

    _shared = None

    def __init__(self):
        self.own_dir = None
        self.prefix = os.environ.get("WINEPREFIX")
        if not self.prefix:
            self.own_dir = tempfile.mkdtemp(prefix="orvantis-wine-")
            self.prefix = os.path.join(self.own_dir, "prefix")
            subprocess.run(["wineboot", "-i"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120, check=True)
            self.wait_server_gone()

    @classmethod
    def shared(cls):
        if cls._shared is None:
            cls._shared = Wine()
        return cls._shared

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        env.update(extra)
        return env

    def run(self, args, timeout=30, cwd=None):
        return subprocess.run(["wine"] + list(args), env=self.env(), cwd=cwd, capture_output=True, text=True,
                              timeout=timeout)

    def popen(self, args, cwd=None, **kw):
        return subprocess.Popen(["wine"] + list(args), env=self.env(), cwd=cwd, **kw)

    def expand(self, text):
        """`text` with its %VARIABLES% expanded by Windows' cmd."""
        return self.run(["cmd", "/c", "echo " + text]).stdout.strip()

    def unix_path(self, windows_path):
        r = self.run(["winepath", "-u", windows_path])
        assert r.returncode == 0 and r.stdout.strip(), "winepath: %r" % r.stderr
        return r.stdout.strip()

    def registry_values(self, key):
        """{name: value} of a registry key as `reg query` shows it, or None
        when there is no such key."""
        r = self.run(["reg", "query", key])
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            m = re.match(r"^\s+(\S.*?)\s{2,}(REG_\w+)\s{2,}(.*)$", line)
            if m:
                values[m.group(1)] = m.group(3).strip()
        return values

    def wait_server_gone(self):
        try:
            subprocess.run(["wineserver", "-w"], env=self.env(), timeout=30)
        except subprocess.TimeoutExpired:
            pass

    def kill_all(self):
        """Ends every Windows process of the prefix and its wineserver."""
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
        self.wait_server_gone()

    def cleanup(self):
        self.kill_all()
        if self.own_dir:
            shutil.rmtree(self.own_dir, ignore_errors=True)


def probe_run(*args, timeout=30):
    """Runs keyprobe.exe in one of its one-shot modes and returns its lines."""
    r = Wine.shared().run([KEYPROBE] + [str(a) for a in args], timeout=timeout)
    return [line.strip() for line in r.stdout.splitlines() if line.strip()]


def screen_size():
    """The primary display's size as Windows reports it."""
    for line in probe_run("screen"):
        if line.startswith("SCREEN "):
            _, w, h = line.split()
            return int(w), int(h)
    raise AssertionError("keyprobe screen said nothing")


def window_texts(title=MAIN_TITLE):
    """(class, text) of every child window of the top-level window `title`."""
    lines = probe_run("texts", title)
    assert lines != ["NOTFOUND"], "no window titled %r" % title
    out = []
    for line in lines:
        if line.startswith("TEXT "):
            cls, _, text = line[5:].partition("\t")
            out.append((cls, text))
    return out


# ------------------------------------------------------------- the program --

def listening_ports():
    """Ports 80 and 8888 that Wine listens on in this namespace. Wine's
    sockets belong to wineserver, not to the program's own process."""
    out = subprocess.run(["ss", "-Hltnp"], capture_output=True, text=True, timeout=10).stdout
    ports = set()
    for line in out.splitlines():
        if "wineserver" not in line:
            continue
        port = int(line.split()[3].rsplit(":", 1)[1])
        if port in (80, 8888):
            ports.add(port)
    return ports


class ForeignProcess:
    """A process that this test did not start itself, seen through the part
    of subprocess.Popen that WindowsProgram uses. Its exit status is its
    parent's to know: it counts as 0."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None

    def poll(self):
        if self.returncode is None:
            try:
                with open("/proc/%d/stat" % self.pid) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        self.returncode = 0
            except OSError:
                self.returncode = 0
        return self.returncode

    def wait(self, timeout=None):
        wait_until(lambda: self.poll() is not None, timeout or 3600, step=0.1, what="process %d to end" % self.pid)
        return self.returncode

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except OSError:
            pass


# Programs and probes still open; main() ends them when a part is cut short,
# since tearDown does not run then.
_live = []


class WindowsProgram:
    """One run of orvantis.exe, unpacked from the user package into a folder of
    its own and started there, as a user would start it."""

    def __init__(self, folder=None):
        _live.append(self)
        self.tmp = tempfile.mkdtemp(prefix="orvantis-win-")
        if folder is None:
            with zipfile.ZipFile(package_zip()) as z:
                z.extractall(self.tmp)
            (top,) = os.listdir(self.tmp)
            folder = os.path.join(self.tmp, top)
        self.folder = folder
        self.proc = None
        self.port = None
        self.log = open(os.path.join(self.tmp, "program.log"), "w+")

    def start(self, wait_port=True, timeout=60):
        self.proc = Wine.shared().popen([os.path.join(self.folder, "orvantis.exe")], cwd=self.folder,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        if wait_port:
            self.port = wait_until(self.listening_port, timeout, step=0.1, what="orvantis.exe to listen")
        return self

    def start_from_shortcut(self, lnk, timeout=60):
        """Starts the program as Explorer starts a shortcut (`lnk`, a Unix
        path): through the shell, which takes the target and the "Start in"
        folder from the shortcut; this test's own working directory is
        elsewhere. The program is then the Wine process of orvantis.exe that
        runs in this program's folder."""
        # The program inherits start's output: a file, not a pipe to wait on.
        starter = Wine.shared().popen(["start", "/unix", lnk], cwd=self.tmp, stdout=self.log,
                                      stderr=subprocess.STDOUT)
        assert starter.wait(timeout) == 0, "start %s failed:\n%s" % (lnk, self.output())

        def started():
            for pid in os.listdir("/proc"):
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        args = f.read().split(b"\0")
                    cwd = os.readlink("/proc/%s/cwd" % pid)
                except (OSError, ValueError):
                    continue
                if args[0].lower().endswith(b"\\orvantis.exe") and cwd == os.path.realpath(self.folder):
                    return int(pid)
            return None

        self.proc = ForeignProcess(wait_until(started, timeout, step=0.2, what="orvantis.exe to start"))
        self.port = wait_until(self.listening_port, timeout, step=0.1, what="orvantis.exe to listen")
        return self

    def listening_port(self):
        if self.proc.poll() is not None:
            raise AssertionError("orvantis.exe ended early with status %s:\n%s" % (self.proc.returncode,
                                                                                  self.output()))
        ports = listening_ports()
        return min(ports) if ports else None

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def main_window(self, timeout=30):
        return harness.wait_window(MAIN_TITLE, timeout)

    def close(self, timeout=20):
        """Closes the main window as its close box would; returns the exit status."""
        self.main_window()
        self.assert_probe_ok(probe_run("close", MAIN_TITLE), "CLOSED")
        return self.proc.wait(timeout)

    @staticmethod
    def assert_probe_ok(lines, expected):
        assert lines == [expected], "keyprobe said %r" % lines

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def cleanup(self):
        self.kill()
        self.log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)
        if self in _live:
            _live.remove(self)


# -------------------------------------------------------------- key probe --

class KeyProbe:
    """keyprobe.exe's window: focused, under the pointer, reporting the keys
    and clicks it gets as (name, values...) tuples."""

    def __init__(self, rect=PROBE_RECT, noise=False, seconds=120):
        _live.append(self)
        args = [KEYPROBE] + [str(v) for v in rect] + [str(seconds)] + (["noise"] if noise else [])
        self.proc = Wine.shared().popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.events = []
        self.focused = False
        deadline = time.monotonic() + 30
        while True:
            line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            if line == "FOCUS":
                self.focused = True
            elif line.startswith("READY"):
                self.pointer = tuple(int(v) for v in line.split()[1:3])
                break
            elif line.startswith("ERROR"):
                raise AssertionError("keyprobe: " + line)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())

    @staticmethod
    def _parse(line):
        parts = line.split()
        fields = {}
        values = []
        for p in parts[1:]:
            if "=" in p:
                k, _, v = p.partition("=")
                fields[k] = int(v, 0)
            else:
                values.append(int(p, 0))
        return parts[0], tuple(values), fields

    def _take(self, line):
        if line == "FOCUS":
            self.focused = True
        elif line == "NOFOCUS":
            self.focused = False
        elif line:
            self.events.append(self._parse(line))

    def read_events(self, count, timeout=10):
        """Waits until `count` input events came in all, or the timeout."""
        deadline = time.monotonic() + timeout
        while len(self.events) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            try:
                self._take(self.lines.get(timeout=left))
            except queue.Empty:
                break
        return list(self.events)

    def settle(self, quiet=0.5):
        while True:
            try:
                self._take(self.lines.get(timeout=quiet))
            except queue.Empty:
                return list(self.events)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        self.reader.join(5)
        if not self.reader.is_alive():
            self.proc.stdout.close()
        if self in _live:
            _live.remove(self)

    def cleanup(self):
        self.stop()


# ------------------------------------------------------------ PE contents --

class PeFile:
    """Just enough of the PE format to read a program's subsystem, imported
    DLLs and resources."""

    def __init__(self, source):
        """`source`: a file name or the file's bytes."""
        if isinstance(source, bytes):
            self.data = source
        else:
            with open(source, "rb") as f:
                self.data = f.read()
        d = self.data
        assert d[:2] == b"MZ", "not an MZ file"
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, nsections = struct.unpack_from("<HH", d, pe + 4)
        opt_size = struct.unpack_from("<H", d, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        assert magic == 0x20B, "not a PE32+ (64-bit) image"
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        ndirs = struct.unpack_from("<I", d, opt + 108)[0]
        self.dirs = [struct.unpack_from("<II", d, opt + 112 + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            s = pe + 24 + opt_size + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise AssertionError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.dirs[1]
        dlls = []
        o = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, o)
            if not any(fields):
                return dlls
            dlls.append(self.cstring(fields[3]))
            o += 20

    def resources(self):
        """{type: {name: data}} with the first language of each resource;
        names and types are ints (ids) or upper-case strings."""
        rva, _ = self.dirs[2]
        base = self.offset(rva)
        d = self.data

        def entries(off):
            named, ids = struct.unpack_from("<HH", d, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + off + 16 + 8 * i)
                if name & 0x80000000:
                    so = base + (name & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", d, so)[0]
                    name = d[so + 2:so + 2 + 2 * n].decode("utf-16-le")
                yield name, target

        out = {}
        for rtype, t in entries(0):
            names = out.setdefault(rtype, {})
            for rname, n in entries(t & 0x7FFFFFFF):
                _, leaf = next(entries(n & 0x7FFFFFFF))
                data_rva, size = struct.unpack_from("<II", d, base + leaf)
                o = self.offset(data_rva)
                names[rname] = d[o:o + size]
        return out


RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def version_info(resource):
    """(file version, product version, {string name: value}) of a VERSIONINFO
    resource, the versions as tuples of four numbers."""
    d = resource

    def node(o):
        # wLength, wValueLength, wType (1: text, in words), the key, then the
        # value and the children, each aligned to 32 bits.
        length, value_length, kind = struct.unpack_from("<HHH", d, o)
        end = o + 6
        while d[end:end + 2] != b"\0\0":
            end += 2
        key = d[o + 6:end].decode("utf-16-le")
        v = (end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        value = d[v:v + size]
        children = []
        c = (v + size + 3) & ~3
        while c < o + length:
            child, child_length = node(c)
            children.append(child)
            c = (c + child_length + 3) & ~3
        return (key, kind, value, children), length

    (key, _, fixed, children), _ = node(0)
    assert key == "VS_VERSION_INFO", key
    signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", fixed, 0)
    assert signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO"
    strings = {}
    for name, _, _, tables in children:
        if name == "StringFileInfo":
            for _, _, _, entries in tables:
                for entry_key, _, value, _ in entries:
                    strings[entry_key] = value.decode("utf-16-le").rstrip("\0")

    def quad(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    return quad(fms, fls), quad(pms, pls), strings


def read_shortcut(path):
    """{"target", "workdir", "args"} of a Windows shortcut (.lnk) file."""
    with open(path, "rb") as f:
        d = f.read()
    assert struct.unpack_from("<I", d, 0)[0] == 0x4C, "not a shortcut"
    flags = struct.unpack_from("<I", d, 0x14)[0]
    o = 0x4C
    if flags & 0x1:          # HasLinkTargetIDList
        o += 2 + struct.unpack_from("<H", d, o)[0]
    out = {"target": None, "workdir": None, "args": None}
    if flags & 0x2:          # HasLinkInfo
        size, header, info_flags, _, base = struct.unpack_from("<IIIII", d, o)
        if info_flags & 0x1:
            out["target"] = d[o + base:d.index(b"\0", o + base)].decode("mbcs" if os.name == "nt" else "latin-1")
        o += size
    unicode = flags & 0x80
    for bit, name in ((0x4, None), (0x8, None), (0x10, "workdir"), (0x20, "args"), (0x40, None)):
        if flags & bit:
            n = struct.unpack_from("<H", d, o)[0]
            width = 2 if unicode else 1
            raw = d[o + 2:o + 2 + n * width]
            if name:
                out[name] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            o += 2 + n * width
    return out


def ico_images(ico):
    """The images of an .ICO file, in directory order."""
    reserved, kind, count = struct.unpack_from("<HHH", ico, 0)
    assert (reserved, kind) == (0, 1), "not an icon file"
    images = []
    for i in range(count):
        size, offset = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
        images.append(ico[offset:offset + size])
    return images


def ico_argb(ico, size):
    """The pixels of the `size` px DIB image of an .ICO file, as X11's
    _NET_WM_ICON holds them: 0xAARRGGBB, rows from the top."""
    for image in ico_images(ico):
        width, height, _, bits = struct.unpack_from("<iiHH", image, 4)
        if image[:4] == b"\x28\0\0\0" and width == size and bits == 32:
            rows = [struct.unpack_from("<%dI" % size, image, 40 + 4 * size * y) for y in range(size)]
            return [px for row in reversed(rows) for px in row]
    raise AssertionError("no %d px 32-bit image in the icon" % size)


def x_window_icons(wid):
    """{size: pixels} of the icons an X window shows in its title bar and
    the taskbar (_NET_WM_ICON, which Wine fills from the Windows icons)."""
    out = harness.x("xprop", "-id", wid, "-notype", "-f", "_NET_WM_ICON", "32c", " = $0+\n", "_NET_WM_ICON")
    if "=" not in out:
        return {}
    values = [int(v) for v in out.split("=", 1)[1].replace(",", " ").split()]
    icons = {}
    i = 0
    while i + 2 <= len(values):
        width, height = values[i], values[i + 1]
        icons[width] = values[i + 2:i + 2 + width * height]
        i += 2 + width * height
    return icons


def group_icon_ids(group):
    count = struct.unpack_from("<H", group, 4)[0]
    return [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]


# ---------------------------------------------------------------- running --

def in_private_namespace():
    """True inside a network namespace with nothing but loopback, as
    scripts/in-netns.sh makes."""
    return [name for _, name in socket.if_nameindex()] == ["lo"]


def limit_send_buffers(max_bytes=65536):
    """Caps the TCP send buffers of this (private) network namespace, so that
    a large answer fills them and the sender has to wait for the reader."""
    assert in_private_namespace(), "refusing to change the send buffers of a shared network namespace"
    with open("/proc/sys/net/ipv4/tcp_wmem") as f:
        low, default, _ = f.read().split()
    with open("/proc/sys/net/ipv4/tcp_wmem", "w") as f:
        f.write("%s %s %d" % (low, min(int(default), max_bytes), max_bytes))


def main(display_geometry="1280x800x24", need_display=True, need_namespace=True):
    """Runs the calling module's tests with a private display and Wine, and
    always ends Wine's processes. With ORVANTIS_WIN_RESULTS set, appends the
    counts there as one JSON line."""
    if need_namespace and not in_private_namespace():
        sys.exit("%s takes ports 80 and 8888: run it in a network namespace of its own "
                 "(scripts/windows/test.sh, or scripts/in-netns.sh python3 %s)" % (sys.argv[0], sys.argv[0]))
    # A time-out (test.sh) ends the part like Ctrl+C, so the clean-up below
    # still runs; unittest would take SystemExit for a test error instead.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    display = harness.VirtualDisplay(display_geometry) if need_display else None
    result = None
    start = time.monotonic()
    try:
        if display:
            display.start()
        result = unittest.main(module="__main__", exit=False, verbosity=2).result
    except KeyboardInterrupt:
        sys.stderr.write("%s: interrupted\n" % sys.argv[0])
    finally:
        for thing in list(_live):
            try:
                thing.cleanup()
            except Exception as e:  # noqa: BLE001  (clean up the rest regardless)
                sys.stderr.write("clean-up: %r\n" % e)
        if Wine._shared is not None:
            Wine._shared.cleanup()
        if display:
            display.stop()
    if result is None:
        sys.exit(2)
    counts = {
        "part": os.path.splitext(os.path.basename(sys.argv[0]))[0],
        "run": result.testsRun,
        "failed": len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses),
        "skipped": len(result.skipped),
        "seconds": round(time.monotonic() - start, 1),
    }
    counts["passed"] = counts["run"] - counts["failed"] - counts["skipped"]
    results = os.environ.get("ORVANTIS_WIN_RESULTS")
    if results:
        with open(results, "a") as f:
            f.write(json.dumps(counts) + "\n")
    sys.exit(0 if result.wasSuccessful() else 1)
