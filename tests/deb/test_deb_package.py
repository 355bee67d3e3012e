"""The Debian package as a user meets it: installed with dpkg, started the
way its desktop entry starts it, serving its page and pictures from the
user's own folder, and removed without a trace outside that folder.

Changes the system it runs on (installs and removes the package orvantis):
run it as root on a machine meant for it, through scripts/deb/test.sh,
which builds the package and gives the test a network namespace of its own.
"""

import glob
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "integration"))
import harness  # noqa: E402
from harness import Program, get, jpeg_size, parse  # noqa: E402

DEB_DIR = os.environ.get("ORVANTIS_DEB_BUILD_DIR", os.path.join(SOURCE_DIR, "build-deb"))
GOLDEN_PAGE = os.path.join(SOURCE_DIR, "tests", "data", "control_page_welcome.html")
DESKTOP_ENTRY = "/usr/share/applications/orvantis.desktop"


def header(status, content_type, length):
    return ("HTTP/1.1 %d OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: %s\r\ncontent-length: %d\r\n"
            "Connection: close\r\n\r\n" % (status, content_type, length)).encode()


def dpkg(*args):
    r = subprocess.run(["dpkg"] + list(args), capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, "dpkg %s failed:\n%s%s" % (" ".join(args), r.stdout, r.stderr)
    return r.stdout


def installed():
    r = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", "orvantis"], capture_output=True, text=True)
    return r.stdout == "installed"


class DebianPackage(unittest.TestCase):
    def setUp(self):
        debs = glob.glob(os.path.join(DEB_DIR, "orvantis_*_amd64.deb"))
        self.assertEqual(len(debs), 1, "expected one package in %s (scripts/deb/build.sh)" % DEB_DIR)
        self.deb = debs[0]
        self.assertFalse(installed(), "orvantis is installed already: this test would remove it")
        self.program = None

    def tearDown(self):
        if self.program:
            if self._outcome.success is False:
                sys.stderr.write("--- program output ---\n" + self.program.output())
            self.program.cleanup()
        if installed():
            subprocess.run(["dpkg", "--purge", "orvantis"], capture_output=True, timeout=120)

    def test_install_start_from_the_menu_fetch_and_remove(self):
        # The desktop portal's remote control (GNOME, KDE) needs GIO and
        # PipeWire at run time.
        depends = dpkg("--field", self.deb, "Depends")
        for library in ("libglib2.0-0", "libpipewire-0.3-0"):
            self.assertIn(library, depends)
        dpkg("--install", self.deb)
        files = [f for f in dpkg("--listfiles", "orvantis").splitlines() if os.path.isfile(f)]
        for f in ("/usr/bin/orvantis", "/usr/lib/orvantis/orvantis", DESKTOP_ENTRY,
                  "/usr/share/icons/hicolor/48x48/apps/orvantis.png", "/usr/share/man/man1/orvantis.1.gz",
                  "/usr/share/doc/orvantis/copyright"):
            self.assertIn(f, files)
        for name in harness.DATA_FILES:
            with open(os.path.join(harness.DATA_DIR, name), "rb") as a, \
                    open(os.path.join("/usr/share/orvantis", name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

        # A desktop starts the entry's command in the user's home, with no
        # XDG_DATA_HOME set: the program must run in ~/.local/share/orvantis.
        p = self.program = Program(data=False)
        p.workdir = p.home
        p.start(command=harness.desktop_entry_command(DESKTOP_ENTRY), env={"XDG_DATA_HOME": None})
        p.main_window()
        folder = os.path.join(p.home, ".local", "share", "orvantis")
        self.assertEqual(os.readlink("/proc/%d/cwd" % p.proc.pid), folder)

        status, _, _, body = parse(get(p.port, "/"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        stamps = re.findall(rb"/getss(\d+)", body)
        self.assertEqual(len(stamps), 1)
        with open(GOLDEN_PAGE, "rb") as f:
            self.assertEqual(body.replace(b"/getss" + stamps[0], b"/getss1765432109"), f.read())
        with open(os.path.join(harness.DATA_DIR, "bg.gif"), "rb") as f:
            gif = f.read()
        self.assertEqual(get(p.port, "/bg.gif"), header(200, "image/GIF", len(gif)) + gif)

        _, _, headers, jpeg = parse(get(p.port, "/getss1"))
        self.assertEqual(headers["content-type"], "image/JPEG")
        self.assertGreater(jpeg_size(jpeg)[0], 0)
        self.assertTrue(os.path.isfile(os.path.join(folder, "ss.jpg")))
        self.assertEqual([f for f in os.listdir(p.home) if f.endswith(".jpg")], [], "ss.jpg landed in the home")
        # Closing the window is the other tests' matter; here it only has to end.
        p.kill()

        dpkg("--purge", "orvantis")
        self.assertEqual([f for f in files if os.path.lexists(f)], [])
        for folder_of_its_own in ("/usr/lib/orvantis", "/usr/share/orvantis", "/usr/share/doc/orvantis"):
            self.assertFalse(os.path.exists(folder_of_its_own), folder_of_its_own)


if __name__ == "__main__":
    if [name for _, name in __import__("socket").if_nameindex()] != ["lo"]:
        sys.exit("run this in a network namespace of its own (scripts/deb/test.sh)")
    display = harness.VirtualDisplay("1280x800x24").start()
    try:
        result = unittest.main(exit=False, verbosity=2).result
    finally:
        display.stop()
    sys.exit(0 if result.wasSuccessful() else 1)
