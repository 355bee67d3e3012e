"""Runs the real program inside a headless Wayland desktop for tests.

A desktop session runs as an ordinary user (compositors refuse root), in a
run directory of its own that is its XDG_RUNTIME_DIR, and inside the test's
own network namespace (each test module runs under scripts/in-netns.sh, and
everything it starts inherits that namespace). `Session` holds what every
kind of desktop shares: the user, the run directory, the environment a
program of the session gets (also written to RUNDIR/env, to source when
looking into a failed run), starting processes as the user, and stopping
every process of the session at the end. Each kind of desktop is a
subclass that starts its compositor in `_start` and fills `env`; `SESSIONS`
names them.

The program runs through harness.Program (tests/integration), as the
session's user with the session's environment; `WaylandProbe` is a native
Wayland window (wev) that holds the focus and reports the keys and buttons
it gets in the words harness.EventProbe uses.
"""

import glob
import json
import os
import pwd
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "integration"))
import harness  # noqa: E402
from harness import wait_until  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
# The ordinary user desktops run as; created when missing.
TEST_USER = os.environ.get("ORVANTIS_TEST_USER", "orvantis-test")


def ensure_user(name=TEST_USER):
    """The account `name`, created (with a home) when the machine has none."""
    try:
        return pwd.getpwnam(name)
    except KeyError:
        pass
    # Parallel test runs may race to create it: whoever loses finds it made.
    subprocess.run(["useradd", "--create-home", "--shell", "/bin/sh", name], capture_output=True)
    return pwd.getpwnam(name)


def not_installed(kind):
    """What a session of this kind lacks on this machine, with the packages
    that bring it, or None."""
    cls = SESSIONS[kind]
    missing = [t for t in cls.tools if shutil.which(t) is None]
    missing += [f for f in getattr(cls, "files", ()) if not os.path.exists(f)]
    if not missing:
        return None
    return "%s session: %s not installed (scripts/install-deps.sh installs the test packages: %s)" % (
        kind, ", ".join(missing), " ".join(cls.packages))


def skip_reason(kind):
    """Why a session of this kind cannot run on this machine, or None."""
    if os.geteuid() != 0:
        return "needs root: the desktop runs as an ordinary user the test creates"
    return not_installed(kind) or SESSIONS[kind].unavailable()


def ensure_x11_socket_dir():
    """/tmp/.X11-unix as a booted Debian has it (systemd-tmpfiles makes it
    root's, mode 1777). In a fresh root nobody has made it: the first
    XWayland of sway makes it its user's, mode 0755, and GNOME Shell 48
    then refuses to start XWayland ("not writable")."""
    path = "/tmp/.X11-unix"
    try:
        os.mkdir(path, 0o1777)
    except FileExistsError:
        pass
    st = os.lstat(path)
    if st.st_uid != 0 or st.st_mode & 0o7777 != 0o1777:
        os.chown(path, 0, 0)
        os.chmod(path, 0o1777)


def ensure_logind_dirs():
    """/run/systemd/{seats,sessions,users} as a booted Debian has them. A
    fresh root has none: WirePlumber 0.4 (Debian 12) watches them for
    logind, ends at start when they are missing, and nothing then links the
    program's screen stream to the desktop's."""
    for name in ("seats", "sessions", "users"):
        os.makedirs(os.path.join("/run/systemd", name), exist_ok=True)


def remove_x_locks_of(pids):
    """The lock files and sockets in /tmp of X servers whose lock names one
    of `pids`, once those have ended (XWayland stopped with its session
    leaves them). Only a session's own: another session of the same user
    may be taking over a stale lock at this very moment."""
    for lock in glob.glob("/tmp/.X*-lock"):
        try:
            with open(lock) as f:
                pid = int(f.read().strip())
        except (OSError, ValueError):
            continue
        if pid not in pids:
            continue
        try:
            os.kill(pid, 0)
            continue
        except ProcessLookupError:
            pass
        except OSError:
            continue
        display = os.path.basename(lock)[len(".X"):-len("-lock")]
        for path in (lock, "/tmp/.X11-unix/X" + display):
            try:
                os.unlink(path)
            except OSError:
                pass


def session_pids(uid, rundir):
    """Every process of user `uid` whose environment names `rundir` as its
    XDG_RUNTIME_DIR: the compositor, XWayland, buses, helpers it started."""
    mark = ("XDG_RUNTIME_DIR=" + rundir).encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.stat("/proc/" + entry).st_uid != uid:
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if mark in f.read().split(b"\0"):
                    pids.append(int(entry))
        except OSError:
            continue  # gone meanwhile
    return pids


class Session:
    """One desktop session of `kind` as an ordinary user; see the module."""

    kind = None
    tools = ()      # programs the session needs on PATH
    packages = ()   # the Debian packages that bring them

    @classmethod
    def unavailable(cls):
        """Why this machine cannot run the session although everything is
        installed, or None."""
        return None

    def __init__(self, user=TEST_USER):
        self.user = ensure_user(user)
        self.rundir = tempfile.mkdtemp(prefix="orvantis-%s-" % self.kind)
        os.chown(self.rundir, self.user.pw_uid, self.user.pw_gid)
        os.chmod(self.rundir, 0o700)
        # What every program of the session gets; the subclass adds the
        # display names.
        self.env = {"XDG_RUNTIME_DIR": self.rundir, "HOME": self.user.pw_dir, "USER": self.user.pw_name,
                    "LOGNAME": self.user.pw_name}
        self.procs = []
        self.logs = []

    # -- starting and stopping ------------------------------------------------
    def start(self):
        ensure_x11_socket_dir()
        ensure_logind_dirs()
        try:
            self._start()
        except BaseException:
            sys.stderr.write(self.describe_failure())
            self.stop()
            raise
        with open(self.env_file, "w") as f:
            for name, value in sorted(self.env.items()):
                f.write("export %s=%s\n" % (name, value))
        return self

    def _start(self):
        raise NotImplementedError

    @property
    def env_file(self):
        return os.path.join(self.rundir, "env")

    def stop(self):
        """Stops every process of the session (TERM, then KILL after 3 s)
        and removes the run directory."""
        pids = set(session_pids(self.user.pw_uid, self.rundir))
        pids.update(p.pid for p in self.procs if p.poll() is None)
        for pid in pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        deadline = time.monotonic() + 3
        for p in self.procs:
            try:
                p.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        for pid in session_pids(self.user.pw_uid, self.rundir) + [p.pid for p in self.procs if p.poll() is None]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        for p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                pass
        for log in self.logs:
            log.close()
        self.procs, self.logs = [], []
        shutil.rmtree(self.rundir, ignore_errors=True)
        remove_x_locks_of(pids)

    def describe_failure(self):
        """The tail of every log the session wrote, for a failed test."""
        out = []
        for name in sorted(os.listdir(self.rundir)) if os.path.isdir(self.rundir) else []:
            if name.endswith(".log"):
                with open(os.path.join(self.rundir, name), errors="replace") as f:
                    out.append("--- %s (last lines) ---\n%s" % (name, "".join(f.readlines()[-30:])))
        return "\n".join(out) + "\n"

    # -- running things as the session's user -----------------------------------
    def as_user(self, args):
        """`args` run as the session's user (setpriv execs it: the process
        stays the command's own)."""
        return ["setpriv", "--reuid=%d" % self.user.pw_uid, "--regid=%d" % self.user.pw_gid, "--init-groups",
                "--"] + list(args)

    def user_env(self, extra=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8"}
        env.update(self.env)
        env.update(extra or {})
        return env

    def spawn(self, args, log_name=None, extra_env=None, **kw):
        """Starts a process of the session, its output into RUNDIR/log_name."""
        if log_name:
            log = open(os.path.join(self.rundir, log_name), "w")
            self.logs.append(log)
            kw.setdefault("stdout", log)
            kw.setdefault("stderr", subprocess.STDOUT)
        kw.setdefault("stdin", subprocess.DEVNULL)
        p = subprocess.Popen(self.as_user(args), env=self.user_env(extra_env), **kw)
        self.procs.append(p)
        return p

    def run(self, args, timeout=20, check=True, extra_env=None):
        r = subprocess.run(self.as_user(args), env=self.user_env(extra_env), capture_output=True,
                           timeout=timeout)
        if check and r.returncode != 0:
            raise AssertionError("%s failed (%d): %s" % (" ".join(args), r.returncode,
                                                        r.stderr.decode(errors="replace")))
        return r.stdout

    def program(self, **kw):
        return SessionProgram(self, **kw)

    def runnable(self, path):
        """`path` when the session's user can run it; else a copy of it in
        the run directory (a build under a folder closed to others, such as
        /root, is out of the user's reach)."""
        if subprocess.run(self.as_user(["test", "-x", path]), capture_output=True).returncode == 0:
            return path
        folder = os.path.join(self.rundir, "bin")
        os.makedirs(folder, exist_ok=True)
        copy = os.path.join(folder, os.path.basename(path))
        shutil.copy2(path, copy)
        os.chown(folder, self.user.pw_uid, self.user.pw_gid)
        os.chown(copy, self.user.pw_uid, self.user.pw_gid)
        return copy

    def start_session_bus(self):
        """A D-Bus session bus of the session's own, as a login gives one
        (without it the toolkit starts buses of its own through X11)."""
        address = "unix:path=" + os.path.join(self.rundir, "bus")
        self.spawn(["dbus-daemon", "--session", "--address=" + address, "--nofork", "--nopidfile"],
                   log_name="dbus.log")
        wait_until(lambda: os.path.exists(os.path.join(self.rundir, "bus")), 10, step=0.05,
                   what="the session bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address


class SwaySession(Session):
    """Headless sway: software rendering (pixman), no input devices, one
    1920x1080 output, XWayland on; DISPLAY and WAYLAND_DISPLAY both set, as
    in a real sway session."""

    kind = "sway"
    tools = ("sway", "swaymsg", "Xwayland", "wev", "grim", "dbus-daemon")
    packages = ("sway", "xwayland", "wev", "grim", "dbus")
    config = os.path.join(HERE, "sway.config")

    def _start(self):
        self.start_session_bus()
        self.compositor = self.spawn(["sway", "-c", self.config], log_name="sway.log", extra_env={
            "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman",
            "WLR_HEADLESS_OUTPUTS": "1"})

        def sockets():
            if self.compositor.poll() is not None:
                raise AssertionError("sway ended with status %s" % self.compositor.returncode)
            names = os.listdir(self.rundir)
            wayland = [n for n in names if re.fullmatch(r"wayland-\d+", n)]
            ipc = [n for n in names if n.startswith("sway-ipc.") and n.endswith(".sock")]
            return (wayland[0], ipc[0]) if wayland and ipc else None

        wayland, ipc = wait_until(sockets, 20, step=0.1, what="sway's sockets")
        self.env.update({"WAYLAND_DISPLAY": wayland, "SWAYSOCK": os.path.join(self.rundir, ipc),
                         "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "sway"})
        # The X display of sway's XWayland is in the environment sway gives
        # the programs it starts.
        child_env = os.path.join(self.rundir, "child.env")
        self.swaymsg("exec", "env > %s.part && mv %s.part %s" % (child_env, child_env, child_env))
        wait_until(lambda: os.path.exists(child_env), 10, step=0.1, what="sway's child environment")
        with open(child_env) as f:
            display = [line.split("=", 1)[1].strip() for line in f if line.startswith("DISPLAY=")]
        if not display:
            raise AssertionError("sway started without XWayland (no DISPLAY for its programs)")
        self.env["DISPLAY"] = display[0]

    def swaymsg(self, *args, message_type=None):
        cmd = ["swaymsg"] + (["-t", message_type] if message_type else []) + list(args)
        return self.run(cmd)

    def tree(self):
        return json.loads(self.swaymsg(message_type="get_tree"))

    def windows(self):
        """Every window sway shows: (pid, rectangle, focused)."""
        found = []

        def walk(node):
            if node.get("pid"):
                found.append((node["pid"], node["rect"], node.get("focused", False)))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)

        walk(self.tree())
        return found

    def window_of(self, pid, timeout=20):
        return wait_until(lambda: next((w for w in self.windows() if w[0] == pid), None), timeout, step=0.1,
                          what="a window of process %d" % pid)

    def point_at(self, pid):
        """Puts the pointer on the window of process `pid`, on a spot no
        other window covers (a dialog floats over the tiles)."""
        _, rect, _ = self.window_of(pid)
        others = [r for p, r, _ in self.windows() if p != pid]

        def free(x, y):
            return not any(r["x"] <= x < r["x"] + r["width"] and r["y"] <= y < r["y"] + r["height"] for r in others)

        spots = [(rect["x"] + rect["width"] * i // 8, rect["y"] + rect["height"] * j // 8)
                 for i in (4, 1, 7, 2, 6) for j in (4, 1, 7, 2, 6)]
        x, y = next((spot for spot in spots if free(*spot)), spots[0])
        self.swaymsg("seat", "-", "cursor", "set", str(x), str(y))

    def screenshot_ppm(self):
        """The compositor's own screencopy of the output, as binary PPM."""
        return self.run(["grim", "-t", "ppm", "-"], timeout=30)


class PortalSession(Session):
    """What a GNOME or KDE session shares: a private session bus, PipeWire
    with WirePlumber, and the desktop portal that D-Bus starts on demand."""

    files = ("/usr/libexec/xdg-desktop-portal",)
    helper = os.path.join(HERE, "gnome_desktop.py")

    def _start_bus(self, name):
        path = os.path.join(self.rundir, name)
        proc = self.spawn(["dbus-daemon", "--session", "--address=unix:path=" + path, "--nofork", "--nopidfile"],
                          log_name=name + ".log")
        wait_until(lambda: os.path.exists(path) or proc.poll() is not None, 10, step=0.05, what="bus " + name)
        if proc.poll() is not None:
            raise AssertionError("dbus-daemon for %s ended" % name)
        return "unix:path=" + path

    def _start_media(self):
        pipewire = self.spawn(["pipewire"], log_name="pipewire.log")
        # WirePlumber 0.5 (Debian 13) ends at once when PipeWire's socket is
        # not there yet ("Failed to connect to PipeWire"), and without it
        # nothing links the program's screen stream to the desktop's.
        wait_until(lambda: os.path.exists(os.path.join(self.rundir, "pipewire-0")) or pipewire.poll() is not None,
                   10, step=0.05, what="PipeWire's socket")
        if pipewire.poll() is not None:
            raise AssertionError("pipewire ended with status %s" % pipewire.returncode)
        self.spawn(["wireplumber"], log_name="wireplumber.log")

    def _wait_wayland(self, proc, name, seconds=60):
        def socket():
            if proc.poll() is not None:
                raise AssertionError("%s ended with status %s" % (name, proc.returncode))
            return os.path.exists(os.path.join(self.rundir, "wayland-0"))

        wait_until(socket, seconds, step=0.1, what="%s's Wayland socket" % name)

    def desktop(self, *args, timeout=90):
        """Runs gnome_desktop.py (see there) as the session's user."""
        r = subprocess.run(self.as_user(["/usr/bin/python3", self.helper] + list(args)),
                           env=self.user_env(), capture_output=True, timeout=timeout)
        if r.returncode != 0:
            raise AssertionError("gnome_desktop.py %s: %s" % (" ".join(args),
                                                              (r.stderr + r.stdout).decode(errors="replace")))

    def succeeds(self, args, timeout=20):
        """True when the command exits 0 within `timeout` seconds."""
        try:
            return subprocess.run(self.as_user(args), env=self.user_env(), capture_output=True,
                                  timeout=timeout).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def portal_version(self, interface):
        """The `version` property of the desktop portal's `interface`."""
        out = self.run(["gdbus", "call", "--session", "-d", "org.freedesktop.portal.Desktop", "-o",
                        "/org/freedesktop/portal/desktop", "-m", "org.freedesktop.DBus.Properties.Get",
                        interface, "version"]).decode()
        return int(re.search(r"uint32 (\d+)", out).group(1))

    def session_process(self, name):
        """The pid of the session's process whose command is `name`, or None."""
        for pid in session_pids(self.user.pw_uid, self.rundir):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    if os.path.basename(f.read().split(b"\0")[0].decode()) == name:
                        return pid
            except OSError:
                continue
        return None


class GnomeSession(PortalSession):
    """Headless GNOME Shell (Mutter) with one 1920x1080 virtual monitor and
    XWayland, PipeWire and the GNOME portal, as in a GNOME session. The
    machine has no system bus and logind: a second private bus carries
    python3-dbusmock's logind template, which the shell asks for."""

    kind = "gnome"
    tools = ("gnome-shell", "dbus-daemon", "pipewire", "wireplumber", "wev")
    # gnome_desktop.py's imports: the accessibility bus and GStreamer's
    # PipeWire source, through GObject introspection.
    files = ("/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome",
             "/usr/lib/python3/dist-packages/dbusmock", "/usr/lib/x86_64-linux-gnu/girepository-1.0/Atspi-2.0.typelib",
             "/usr/lib/x86_64-linux-gnu/girepository-1.0/Gst-1.0.typelib",
             "/usr/lib/x86_64-linux-gnu/gstreamer-1.0/libgstpipewire.so")
    packages = ("gnome-shell", "mutter", "xdg-desktop-portal", "xdg-desktop-portal-gnome", "pipewire",
                "pipewire-bin", "wireplumber", "python3-dbusmock", "python3-gi", "gir1.2-atspi-2.0",
                "gir1.2-gst-plugins-base-1.0", "gstreamer1.0-pipewire", "wev", "xwayland")

    def _start(self):
        self.env.update({"XDG_CURRENT_DESKTOP": "GNOME", "XDG_SESSION_TYPE": "wayland",
                         "GSETTINGS_BACKEND": "dconf"})
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus("bus")
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self._start_bus("system_bus")
        self.spawn(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
                   log_name="logind.log")
        wait_until(lambda: self.succeeds(["gdbus", "introspect", "--system", "-d", "org.freedesktop.login1", "-o",
                                          "/org/freedesktop/login1"]), 20, step=0.2, what="the stand-in logind")
        # New windows in the middle of the screen, where the pointer is put.
        self.run(["gsettings", "set", "org.gnome.mutter", "center-new-windows", "true"])
        self._start_media()
        shell = self.spawn(["gnome-shell", "--headless", "--wayland", "--virtual-monitor", "1920x1080"],
                           log_name="wm.log", extra_env={"WAYLAND_DISPLAY": "wayland-0"})
        self._wait_wayland(shell, "gnome-shell")
        self.env["WAYLAND_DISPLAY"] = "wayland-0"
        log = os.path.join(self.rundir, "wm.log")

        def display():
            with open(log, errors="replace") as f:
                m = re.search(r"Using public X11 display (:\d+)", f.read())
            return m.group(1) if m else None

        self.env["DISPLAY"] = wait_until(display, 30, step=0.1, what="gnome-shell's XWayland")
        auth = [n for n in os.listdir(self.rundir) if n.startswith(".mutter-Xwaylandauth.")]
        if auth:
            self.env["XAUTHORITY"] = os.path.join(self.rundir, auth[0])
        # The shell starts in its overview: leave it, as a user would, so
        # windows get the keyboard. On a busy machine the shell has been
        # seen to answer nothing for over 20 s while it starts: ask again.
        wait_until(lambda: self.succeeds(self.LEAVE_OVERVIEW), 90, step=0.5, what="the shell's D-Bus interface")

    LEAVE_OVERVIEW = ["gdbus", "call", "--session", "-d", "org.gnome.Shell", "-o", "/org/gnome/Shell", "-m",
                      "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", "<false>"]

    def leave_overview(self):
        self.run(self.LEAVE_OVERVIEW)


class KdeSession(PortalSession):
    """Headless KWin (Plasma 5.27 or 6) with one 1920x1080 virtual output,
    software-painted, PipeWire and the KDE portal. /usr/bin/kwin_wayland
    carries a file capability that containers may refuse (exec fails with
    EPERM): a plain copy runs instead; its name must still end in
    kwin_wayland, or its built-in Qt platform plugin refuses to load."""

    kind = "kde"
    tools = ("kwin_wayland", "dbus-daemon", "pipewire", "wireplumber", "wev")
    # gnome_desktop.py answers Plasma 6's consent dialog.
    files = ("/usr/libexec/xdg-desktop-portal", "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde",
             "/usr/lib/x86_64-linux-gnu/girepository-1.0/Atspi-2.0.typelib")
    packages = ("kwin-wayland", "xdg-desktop-portal", "xdg-desktop-portal-kde", "python3-gi", "gir1.2-atspi-2.0",
                "qtwayland5",
                "plasma-workspace", "pipewire", "pipewire-bin", "wireplumber", "wev",
                "qml-module-qtquick-layouts", "qml-module-qtquick-controls2", "qml-module-qtquick2",
                "qml-module-qtquick-window2", "qml-module-org-kde-kirigami2", "qml-module-qtquick-templates2",
                "qml-module-qtgraphicaleffects", "qml-module-qtquick-controls",
                "qml-module-org-kde-kquickcontrolsaddons")

    @classmethod
    def unavailable(cls):
        # Plasma 6's portal casts the screen in every remote desktop session
        # it starts, and KWin 6 casts only with OpenGL compositing, which its
        # virtual backend has only on a DRM render node (GBM): without one
        # KWin paints with QPainter and the portal refuses the session after
        # its dialog ("OpenGL compositing is required for screencasting").
        if kwin_major() >= 6 and not glob.glob("/dev/dri/renderD*"):
            return ("kde session: KWin %d's virtual backend has OpenGL compositing only on a DRM render node and "
                    "this machine has none (no /dev/dri/renderD*): KWin paints with QPainter, and Plasma 6's portal "
                    "then refuses every remote desktop session (its log: \"OpenGL compositing is required for "
                    "screencasting\"), so the program cannot get control here" % kwin_major())
        return None

    def _start(self):
        bindir = os.path.join(self.rundir, "bin")
        os.mkdir(bindir)
        shutil.copy("/usr/bin/kwin_wayland", os.path.join(bindir, "kwin_wayland"))  # no file capability
        os.chown(bindir, self.user.pw_uid, self.user.pw_gid)
        self.plasma = kwin_major()
        self.env.update({"XDG_CURRENT_DESKTOP": "KDE", "XDG_SESSION_TYPE": "wayland", "QT_QPA_PLATFORM": "wayland"})
        if self.plasma < 6:
            self.env["KWIN_COMPOSE"] = "Q"  # KWin 6 paints with OpenGL where it can (see unavailable)
        # KWin gives its privileged protocols (the portal's screen cast and
        # fake input) only to programs whose desktop file asks for them, and
        # finds those through KService's index. On Debian 13 that index is
        # built from plasma-applications.menu, as startplasma's
        # XDG_MENU_PREFIX says: without it the index is empty, and Plasma
        # 6's portal refuses every remote desktop session. A cache of the
        # session's own keeps an index built without it out of the way.
        if os.path.exists("/etc/xdg/menus/plasma-applications.menu"):
            self.env["XDG_MENU_PREFIX"] = "plasma-"
        self.env["XDG_CACHE_HOME"] = os.path.join(self.rundir, "cache")
        # Plasma 6's portal asks for consent in a dialog of Qt's, which the
        # test answers through the accessibility bus, as on GNOME.
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_bus("bus")
        self._start_media()
        kwin = self.spawn([os.path.join(bindir, "kwin_wayland"), "--virtual", "--width", "1920", "--height", "1080",
                           "--no-lockscreen", "--socket", "wayland-0"], log_name="wm.log")
        self._wait_wayland(kwin, "kwin_wayland")
        self.env["WAYLAND_DISPLAY"] = "wayland-0"


def kwin_major():
    """The major version of the installed KWin (5 on Debian 12, 6 on 13),
    from the package: /usr/bin/kwin_wayland itself may not run here (see
    KdeSession)."""
    out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "kwin-wayland"], capture_output=True, text=True).stdout
    return int(re.match(r"(?:\d+:)?(\d+)", out).group(1))


SESSIONS = {"sway": SwaySession, "gnome": GnomeSession, "kde": KdeSession}


def start_session(kind):
    return SESSIONS[kind]().start()


class SessionProgram(harness.Program):
    """The real program run as the session's user, with its environment."""

    def __init__(self, session, **kw):
        super().__init__(**kw)
        self.session = session
        uid, gid = session.user.pw_uid, session.user.pw_gid
        for top, dirs, files in os.walk(self.tmp):
            for name in [top] + [os.path.join(top, n) for n in dirs + files]:
                os.chown(name, uid, gid)
        self.executable = session.runnable(harness.PROGRAM)

    def start(self, wait_port=True, env=None, preexec=None, command=None):
        # The session's environment, but the run's own HOME (Program's):
        # the single-instance guard lives there, and other runs of the same
        # user must not see this one.
        extra = {k: v for k, v in self.session.env.items() if k != "HOME"}
        extra.update(env or {})
        return super().start(wait_port=wait_port, env=extra,
                             command=command or self.session.as_user([self.executable]))

    def backend_line(self, timeout=20):
        """The line on which the program names its desktop backend."""
        return wait_until(lambda: next((line for line in self.output().splitlines()
                                        if line.startswith("orvantis: desktop backend: ")), None),
                          timeout, step=0.1, what="the program to name its desktop backend")


class WaylandProbe(harness.EventProbe):
    """A native Wayland window (wev) of the session's user that reports the
    key and button events it gets, as harness.EventProbe does:
    "KEY_DOWN Next", "KEY_UP Next", "BUTTON_DOWN left", "BUTTON_UP left".
    Ready once its window is shown (a seat without any keyboard gives no
    keyboard focus to report; the session says which window has the focus)."""

    KEY = re.compile(r"\] key: .*; state: (\d)")
    SYM = re.compile(r"^\s+sym: (\S+)")
    BUTTON = re.compile(r"\] button: .*; button: \d+ \((\w+)\), state: (\d)")

    def __init__(self, session, timeout=20):
        self.session = session
        # wev buffers its output when it goes to a pipe: line buffering.
        self.proc = session.spawn(["stdbuf", "-oL", "wev", "-f", "wl_keyboard", "-f", "wl_pointer",
                                   "-f", "xdg_surface"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        self.key_times = []
        self.events = []
        self.raw = []
        self.pointer_inside = False
        self.keyboard_focus = False
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        try:
            first = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("the Wayland probe's window did not show:\n" + "".join(self.raw[-20:]))
        assert first == "READY", "probe said %r" % first

    def _read(self):
        pending_key = None
        shown = False
        for line in self.proc.stdout:
            self.raw.append(line)
            if pending_key is not None:
                m = self.SYM.match(line)
                if m:
                    self.lines.put("%s %s" % (pending_key, m.group(1)))
                pending_key = None
                continue
            if "xdg_surface] configure:" in line and not shown:
                shown = True
                self.lines.put("READY")
            elif "wl_keyboard] enter:" in line:
                self.keyboard_focus = True
            elif "wl_keyboard] leave:" in line:
                self.keyboard_focus = False
            elif "wl_pointer] enter:" in line:
                self.pointer_inside = True
            elif "wl_pointer] leave:" in line:
                self.pointer_inside = False
            m = self.KEY.search(line)
            if m and "wl_keyboard]" in line:
                pending_key = "KEY_DOWN" if m.group(1) == "1" else "KEY_UP"
                continue
            m = self.BUTTON.search(line)
            if m and "wl_pointer]" in line:
                self.lines.put("%s %s" % ("BUTTON_DOWN" if m.group(2) == "1" else "BUTTON_UP", m.group(1)))


def main(kind):
    """Runs a test module of sessions of `kind`; exits 77 (which ctest
    counts as skipped) with the reason when the machine cannot run one."""
    import unittest
    reason = skip_reason(kind)
    if reason:
        print("SKIPPED: " + reason)
        # CI installs every desktop: there a missing one is a broken
        # install step, not a machine without it.
        broken_install = os.environ.get("CI") == "true" and reason == not_installed(kind)
        sys.exit(1 if broken_install else 77)
    unittest.main()
