"""Runs the real program under a private X display for integration tests.

Every test module runs inside a network namespace of its own (see
scripts/in-netns.sh), so the program may take ports 80 and 8888 there, and
all traffic stays on that namespace's loopback interface.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

BUILD_DIR = os.environ.get("ORVANTIS_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PROGRAM = os.path.join(BUILD_DIR, "orvantis")
DATA_DIR = os.path.join(SOURCE_DIR, "data")
DATA_FILES = ["bg.gif", "gradt.png", "gradb.png", "OrvantisLogo100px.png", "OrvantisLogoIconSmall.ICO"]


def tool(name):
    return os.path.join(BUILD_DIR, "tests", "x11", name) if name == "xevent_probe" else os.path.join(
        BUILD_DIR, "tests", "integration", name)


def wait_until(predicate, timeout, step=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(step)


class VirtualDisplay:
    """A private Xvfb display."""

    def __init__(self, geometry="1920x1080x24", extra_args=()):
        self.geometry = geometry
        self.extra_args = list(extra_args)
        self.proc = None
        self.name = None

    def start(self):
        for n in range(300, 600):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            self.proc = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", self.geometry, "-nolisten", "tcp", "-noreset", "+extension",
                 "RANDR"] + self.extra_args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                wait_until(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or self.proc.poll() is not None, 10)
            except AssertionError:
                pass
            try:
                with open("/tmp/.X%d-lock" % n) as f:
                    owner = int(f.read().strip() or 0)
            except (OSError, ValueError):
                owner = 0
            # Another run may have raced us for this number: ours only if
            # the lock names our server.
            if self.proc.poll() is None and owner == self.proc.pid:
                self.name = ":%d" % n
                os.environ["DISPLAY"] = self.name
                return self
            self.proc.terminate()
            self.proc.wait(10)
        raise RuntimeError("no free X display")

    def stop(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait(10)
            self.proc = None


def desktop_entry_command(path):
    """The command a desktop starts for a desktop entry: its Exec= line,
    split as the desktop entry rules say, without field codes (%f, %U...)."""
    import shlex
    with open(path) as f:
        for line in f:
            if line.startswith("Exec="):
                return [a for a in shlex.split(line[5:].strip()) if not (len(a) == 2 and a[0] == "%")]
    raise AssertionError("%s has no Exec= line" % path)


def x(*args, check=True, timeout=20):
    """Runs an X client tool and returns its standard output."""
    r = subprocess.run(list(args), capture_output=True, text=True, timeout=timeout)
    if check and r.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(args), r.stderr))
    return r.stdout


def find_windows(title):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                       capture_output=True, text=True, timeout=20)
    return [w for w in r.stdout.split() if w]


def wait_window(title, timeout=20):
    return wait_until(lambda: find_windows(title), timeout, step=0.1, what="window '%s'" % title)[0]


def window_geometry(wid):
    out = x("xdotool", "getwindowgeometry", "--shell", wid)
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def press_return_in(wid):
    """Focuses a window and presses Return there, as the user would."""
    x("xdotool", "windowfocus", "--sync", wid, check=False)
    time.sleep(0.2)
    x("xdotool", "key", "Return")


def program_env(home, extra=None):
    """The program's environment: this one with a private HOME, without the
    marks of a Wayland session the tests may have been started in (the
    program would greet those with a notice), and `extra` on top (None
    unsets a variable)."""
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "XDG_SESSION_TYPE")}
    env["HOME"] = home
    for name, value in (extra or {}).items():
        if value is None:
            env.pop(name, None)  # left unset
        else:
            env[name] = value
    return env


class Program:
    """One run of the program, in a working directory and HOME of its own."""

    def __init__(self, data=True, workdir=None, home=None):
        self.tmp = tempfile.mkdtemp(prefix="orvantis-it-")
        self.workdir = workdir or os.path.join(self.tmp, "work")
        self.home = home or os.path.join(self.tmp, "home")
        os.makedirs(self.workdir, exist_ok=True)
        os.makedirs(self.home, exist_ok=True)
        if data:
            for f in DATA_FILES:
                shutil.copy(os.path.join(DATA_DIR, f), self.workdir)
        self.proc = None
        self.log = open(os.path.join(self.tmp, "program.log"), "w+")

    def start(self, wait_port=True, env=None, preexec=None, command=None):
        """Starts the program, or `command` (which must exec it, so that the
        process stays the program's), in the working directory."""
        self.proc = subprocess.Popen(command or [PROGRAM], cwd=self.workdir, env=program_env(self.home, env),
                                     stdout=self.log, stderr=subprocess.STDOUT, preexec_fn=preexec)
        if wait_port:
            self.port = wait_until(self.listening_port, 20, what="the program to listen")
        return self

    def listening_port(self):
        if self.proc.poll() is not None:
            raise AssertionError("program ended early with status %s:\n%s" % (self.proc.returncode, self.output()))
        # Asked of the system rather than by connecting: a test may hold a
        # port itself.
        out = subprocess.run(["ss", "-Hltnp"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if "pid=%d," % self.proc.pid in line:
                port = int(line.split()[3].rsplit(":", 1)[1])
                if port in (80, 8888):
                    return port
        return None

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def main_window(self, timeout=20):
        return wait_window("Orvantis", timeout)

    def close(self, timeout=15):
        """Closes the main window as the user would and returns the exit status."""
        wid = self.main_window()
        x(tool("xclose"), wid)
        return self.proc.wait(timeout)

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def threads(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(f.read().split("Threads:")[1].split()[0])

    def cleanup(self):
        self.kill()
        self.log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


def close_while_hammered(program, paths, warmup=1.5):
    """Closes the program's main window while one client per path keeps
    sending requests, and returns (exit status, seconds the close took)."""
    import threading
    stop = threading.Event()

    def hammer(path):
        while not stop.is_set():
            try:
                exchange(80, b"GET " + path + b" HTTP/1.1\r\n\r\n", timeout=5)
            except OSError:
                time.sleep(0.01)

    clients = [threading.Thread(target=hammer, args=(path,), daemon=True) for path in paths]
    for c in clients:
        c.start()
    time.sleep(warmup)
    start = time.monotonic()
    try:
        status = program.close(timeout=20)
    finally:
        stop.set()
    took = time.monotonic() - start
    for c in clients:
        c.join(10)
    return status, took


class SlowLink:
    """This namespace's loopback as a weak WiFi link: a token bucket of
    `rate` with an Ethernet-sized MTU. With a queue of seconds the bucket
    drops packets, the round trip grows to seconds and the sender waits for
    retransmissions, as on a lossy link."""

    def __init__(self, rate="256kbit", burst="64kb", latency="5s"):
        self.line = "tc qdisc add dev lo root tbf rate %s burst %s latency %s" % (rate, burst, latency)

    def __enter__(self):
        subprocess.run("ip link set lo mtu 1500 && " + self.line, shell=True, check=True)
        return self

    def __exit__(self, *exc):
        subprocess.run("tc qdisc del dev lo root; ip link set lo mtu 65536", shell=True)
        return False


def port_open(port):
    s = socket.socket()
    s.settimeout(0.5)
    try:
        s.connect(("127.0.0.1", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def hold_port(port):
    """Takes a port the way another program on the PC would (servers on
    Linux bind with address reuse, or the program's own connections in
    TIME_WAIT would keep them off the port)."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", port))
    s.listen(5)
    return s


def connect(port, timeout=10):
    """A client connection to the program on this namespace's loopback."""
    return socket.create_connection(("127.0.0.1", port), timeout=timeout)


def exchange(port, request, timeout=10):
    """Sends raw request bytes and returns everything the server sends back
    until it closes the connection."""
    s = connect(port, timeout)
    try:
        if request:
            s.sendall(request)
        chunks = []
        while True:
            data = s.recv(65536)
            if not data:
                break
            chunks.append(data)
        return b"".join(chunks)
    finally:
        s.close()


def get(port, path, timeout=10):
    return exchange(port, b"GET " + path.encode() + b" HTTP/1.1\r\nHost: pc\r\n\r\n", timeout)


def parse(answer):
    """Splits an answer into status line, header lines and body; checks that
    the body is exactly as long as announced."""
    head, sep, body = answer.partition(b"\r\n\r\n")
    assert sep, "no end of header in %r" % answer[:200]
    lines = head.split(b"\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(b": ")
        headers[name.decode()] = value.decode()
    assert int(headers["content-length"]) == len(body), "content-length %s but %d bytes follow" % (
        headers["content-length"], len(body))
    return lines[0].decode(), lines[1:], headers, body


def jpeg_size(data):
    """Width and height from a JPEG's start-of-frame marker."""
    assert data[:2] == b"\xff\xd8", "not a JPEG"
    i = 2
    while i < len(data):
        assert data[i] == 0xFF
        marker = data[i + 1]
        length = int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    raise AssertionError("no frame header")


class EventProbe:
    """A focused X window of the test that reports the keys and clicks it gets."""

    def __init__(self):
        import queue
        import threading
        self.proc = subprocess.Popen([tool("xevent_probe")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.lines = queue.Queue()
        self.key_times = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        first = self.lines.get(timeout=10)
        assert first == "READY", "probe said %r" % first
        self.events = []

    def _read(self):
        for line in self.proc.stdout:
            # Key events carry the X server's time; the tests compare the
            # events themselves, so it is kept aside.
            line, _, stamp = line.strip().partition(" t=")
            if stamp:
                self.key_times.append((line, int(stamp)))
            self.lines.put(line)

    def read_events(self, count, timeout=10):
        """Waits until `count` events have come in all, or the timeout."""
        import queue
        deadline = time.monotonic() + timeout
        while len(self.events) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                break
            if line != "READY":
                self.events.append(line)
        return list(self.events)

    def settle(self, quiet=0.5):
        """Collects what comes until nothing more arrives for `quiet` seconds."""
        import queue
        while True:
            try:
                line = self.lines.get(timeout=quiet)
            except queue.Empty:
                return list(self.events)
            if line != "READY":
                self.events.append(line)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        for pipe in (self.proc.stdin, self.proc.stdout):
            if pipe:
                pipe.close()
