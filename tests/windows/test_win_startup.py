"""Start-up and shut-down of orvantis.exe under Windows (Wine): the port it
takes, what its window says and shows without its picture files, one
running copy per user, and a clean end when the window is closed."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winharness as wh  # noqa: E402
from winharness import get, hold_port, parse, wait_until  # noqa: E402

ALREADY_RUNNING = "Already Running..."
PORT_FAILURE = "Failed to access port for OrvantisServer..."
URL_CAPTION = "Open URL in phone Web-Browser:"
SERVER_UP = "OrvantisServer is up and running..."


def texts_of_main_window():
    return [text for cls, text in wh.window_texts() if cls in ("Static", "msctls_statusbar32")]


def url_label(texts):
    return texts[texts.index(URL_CAPTION) + 1]


def wait_for_address_tick():
    """The window's texts once the 2-second timer has run."""
    def ticked():
        # The probe reads the controls one after the other, the label before
        # the status bar: a read that spans the first tick sees the status
        # it set and the label from before it. Wait for both.
        texts = texts_of_main_window()
        return texts if SERVER_UP in texts and url_label(texts) != "Getting URL, Please wait..." else None
    return wait_until(ticked, 15, step=0.5, what="the status bar to report the server")


def labels_shown(expected, timeout=12):
    """The URL labels the window shows in turn, watched until all of
    `expected` came or the time is up."""
    seen = set()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and not expected <= seen:
        seen.add(url_label(texts_of_main_window()))
        time.sleep(0.4)
    return seen


class Base(unittest.TestCase):
    def setUp(self):
        self.programs = []
        self.held = []

    def tearDown(self):
        for p in self.programs:
            if self._outcome.success is False:
                sys.stderr.write("--- orvantis.exe output ---\n" + p.output())
            p.cleanup()
        for s in self.held:
            s.close()

    def program(self, **kw):
        p = wh.WindowsProgram(**kw)
        self.programs.append(p)
        return p


class StartUp(Base):
    """The namespace has only the loopback interface: a PC on no network."""

    def test_serves_on_port_80_says_so_and_ends_cleanly_when_closed(self):
        p = self.program().start()
        self.assertEqual(p.port, 80)
        p.main_window()
        status, _, _, body = parse(get(80, "/"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertIn(b"Welcome to Orvantis", body)
        texts = wait_for_address_tick()
        self.assertIn("Note: Make sure your firewall allows port 80 and Orvantis.exe", texts)
        self.assertEqual(url_label(texts), "Not Connected to LAN or WIFI")
        # Closing the window ends the program with status 0 and frees the port.
        self.assertEqual(p.close(), 0)
        self.assertEqual(wh.listening_ports(), set(), "the port stayed open after the end")

    def test_second_start_is_refused_with_a_message_and_the_first_keeps_serving(self):
        first = self.program().start()
        first.main_window()
        second = self.program(folder=first.folder).start(wait_port=False)
        wh.harness.wait_window(ALREADY_RUNNING, 30)
        box = wh.window_texts(ALREADY_RUNNING)
        self.assertTrue(any("Orvantis is already running" in text for _, text in box), box)
        # Only the first has a main window, and it still answers.
        self.assertEqual(len(wh.harness.find_windows(wh.MAIN_TITLE)), 1)
        self.assertEqual(parse(get(80, "/"))[0], "HTTP/1.1 200 OK")
        # OK ends the second copy; the first goes on serving.
        self.assertEqual(wh.probe_run("close", ALREADY_RUNNING), ["CLOSED"])
        second.proc.wait(20)
        self.assertEqual(parse(get(80, "/"))[0], "HTTP/1.1 200 OK")
        self.assertEqual(wh.listening_ports(), {80})
        self.assertEqual(first.close(), 0)
        # Once the first has ended, a new start succeeds.
        third = self.program(folder=first.folder).start()
        self.assertEqual(third.port, 80)
        third.main_window()
        self.assertEqual(third.close(), 0)


class WithoutPictureFiles(Base):
    """orvantis.exe alone in a folder, as Explorer starts it from inside the
    zip or a shortcut with no "Start in" does."""

    def test_window_is_whole_with_its_icon_and_quiet_but_the_page_background_is_not_found(self):
        p = self.program()
        for name in wh.DATA_FILES:
            os.remove(os.path.join(p.folder, name))
        p.start()
        wid = p.main_window()
        time.sleep(1)
        # The toolkit's error box is titled "<program> Error".
        self.assertEqual(wh.harness.find_windows(".*[Ee]rror"), [], "an error box came up")
        lines = wh.probe_run("pictures", wh.MAIN_TITLE)
        # The logo and the two bands, from the copies built into the program.
        pictures = sorted(tuple(int(v) for v in line.split()[1:]) for line in lines if line.startswith("PICTURE"))
        self.assertEqual(pictures, [(100, 100), (600, 24), (600, 24)])
        # The title bar and the taskbar show the program file's own icon, not
        # Wine's default one.
        icons = wh.x_window_icons(wid)
        with open(os.path.join(wh.BUILD_DIR, "generated", "orvantis.ico"), "rb") as f:
            ico = f.read()
        for size in (16, 32):
            self.assertEqual(icons.get(size), wh.ico_argb(ico, size), "%d px window icon" % size)
        # The web answers still come from the working directory only.
        self.assertEqual(get(80, "/bg.gif"), wh.answer_header(404, "text/html", 0))
        if os.environ.get("ORVANTIS_UPDATE_DOCS") == "1":
            _, _, _, jpeg = parse(get(80, "/getss1"))
            with open(os.path.join(wh.SOURCE_DIR, "docs", "windows-no-picture-files.jpg"), "wb") as f:
                f.write(jpeg)
        self.assertEqual(p.close(), 0)


class OnALan(Base):
    """The PC has a network card with an address: a veth pair made inside
    this part's own namespace (no traffic crosses it)."""

    ADDRESS = "192.0.2.10"

    @classmethod
    def setUpClass(cls):
        assert wh.in_private_namespace(), "refusing to add interfaces to a shared network namespace"
        for cmd in (["ip", "link", "add", "orvw0", "type", "veth", "peer", "name", "orvw1"],
                    ["ip", "addr", "add", cls.ADDRESS + "/24", "dev", "orvw0"],
                    ["ip", "link", "set", "orvw0", "up"], ["ip", "link", "set", "orvw1", "up"]):
            subprocess.run(cmd, check=True, timeout=10)
        cls.computer_name = wh.Wine.shared().run(["cmd", "/c", "echo %COMPUTERNAME%"]).stdout.strip()
        assert cls.computer_name, "Windows reports no computer name"

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["ip", "link", "del", "orvw0"], timeout=10)

    def test_window_shows_the_address_and_the_computer_name_in_turn(self):
        p = self.program().start()
        self.assertEqual(p.port, 80)
        p.main_window()
        expected = {"http://" + self.ADDRESS, "Or http://" + self.computer_name}
        seen = labels_shown(expected)
        self.assertLessEqual(expected, seen)
        self.assertLessEqual(seen - expected, {"Getting URL, Please wait..."})
        self.assertEqual(p.close(), 0)

    def test_falls_back_to_8888_when_port_80_is_taken_and_says_so(self):
        self.held.append(hold_port(80))
        p = self.program().start()
        self.assertEqual(p.port, 8888)
        p.main_window()
        # Silently: no message box.
        self.assertEqual(wh.harness.find_windows(PORT_FAILURE), [])
        self.assertEqual(parse(get(8888, "/"))[0], "HTTP/1.1 200 OK")
        texts = wait_for_address_tick()
        self.assertIn("Note: Make sure your firewall allows port 8888 and Orvantis.exe", texts)
        expected = {"http://%s:8888" % self.ADDRESS, "Or http://%s:8888" % self.computer_name}
        self.assertLessEqual(expected, labels_shown(expected))
        self.assertEqual(p.close(), 0)


if __name__ == "__main__":
    wh.main()
