"""The program in a headless GNOME Shell session with XWayland, as an
ordinary user would run it there: it asks for remote control through the
desktop portal when it starts, and the test answers the desktop's consent
dialog as the presenter would (through the accessibility bus). Portals of
RemoteDesktop version 2 (Debian 13) keep the consent: the dialog offers to
remember it (on by default), and the program keeps the portal's restore
token for the sessions that follow."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wlharness  # noqa: E402
from harness import BUILD_DIR, get, parse, wait_until  # noqa: E402

session = None
LOST = "Orvantis lost control of this desktop"
REFUSED = "Orvantis may not control this desktop"


def setUpModule():
    global session
    session = wlharness.start_session("gnome")


def tearDownModule():
    if session:
        session.stop()


def no_answer(port, path):
    """True when the program closes the connection without any answer."""
    try:
        return get(port, path, timeout=15) == b""
    except ConnectionError:
        return True


def token_file(program):
    return os.path.join(program.home, ".config", "orvantis", "portal-restore-token")


class Portal(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keeps_consent = session.portal_version("org.freedesktop.portal.RemoteDesktop") >= 2

    def start_program(self):
        program = session.program()
        self.addCleanup(program.cleanup)
        self.program = program
        program.start()
        self.assertEqual(program.backend_line(), "orvantis: desktop backend: portal")
        return program

    def granted(self, count=1):
        wait_until(lambda: self.program.output().count("portal: remote control granted") >= count, 60, step=0.2,
                   what="the program to get remote control")

    def focus(self, probe):
        """Gives the probe's window (centred) the keyboard and the pointer.
        The shell may (re)open its overview as windows come and go: leave it
        until the window has both."""
        def focused():
            session.leave_overview()
            if probe.keyboard_focus and not probe.pointer_inside:
                session.desktop("pointer", "960", "540")
                time.sleep(0.5)
            return probe.keyboard_focus and probe.pointer_inside

        wait_until(focused, 40, step=1, what="the Wayland probe to get the keyboard and the pointer")

    def fail_with_logs(self, probe=None):
        sys.stderr.write("--- program output ---\n" + self.program.output() + session.describe_failure())
        if probe:
            sys.stderr.write("--- Wayland probe ---\n" + "".join(probe.raw[-40:]))
        # ORVANTIS_KEEP_SCREEN=FILE.ppm keeps Mutter's picture of the screen
        # at the failure (in a folder the session's user may write to).
        if os.environ.get("ORVANTIS_KEEP_SCREEN"):
            try:
                session.desktop("screenshot", os.environ["ORVANTIS_KEEP_SCREEN"])
            except AssertionError as e:
                sys.stderr.write(str(e))

    def test_refused_dialog_ends_in_the_notice_and_the_page_still_serves(self):
        # Cancelled, or shared with "Allow remote interaction" left off (as
        # the dialog offers it): either way the phone cannot turn slides.
        for answer in ("cancel", "view"):
            with self.subTest(answer=answer):
                program = self.start_program()
                try:
                    session.desktop("answer", answer)
                    session.desktop("window", REFUSED)
                    status, _, _, body = parse(get(program.port, "/"))
                    self.assertEqual(status, "HTTP/1.1 200 OK")
                    self.assertIn(b"Welcome to Orvantis", body)
                    # Commands go on through XWayland, as on a desktop
                    # without the portal: the page answers them.
                    status, _, _, body = parse(get(program.port, "/next"))
                    self.assertIn(b"Done Command: Next Slide", body)
                    # Nothing kept: the next start asks again.
                    self.assertFalse(os.path.exists(token_file(program)))
                except BaseException:
                    self.fail_with_logs()
                    raise
                finally:
                    program.cleanup()

    def test_commands_reach_a_wayland_window_and_screenshots_show_the_screen(self):
        program = self.start_program()
        probe = None
        try:
            # Commands that come while the dialog is open are not carried
            # out: the connection closes without an answer.
            self.assertTrue(no_answer(program.port, "/next"))
            session.desktop("answer", "share")
            self.granted()
            token = token_file(program)
            if self.keeps_consent:
                with open(token) as f:
                    first_token = f.read().strip()
                self.assertTrue(first_token)
                self.assertEqual(os.stat(token).st_mode & 0o777, 0o600)
            else:
                self.assertFalse(os.path.exists(token))
            # The probe comes after the program's window, which would take
            # the focus from it.
            session.desktop("window", "Orvantis")
            probe = wlharness.WaylandProbe(session)
            self.addCleanup(probe.stop)
            self.focus(probe)
            for path, text in (("/next", b"Done Command: Next Slide"), ("/prev", b"Done Command: Previous Slide"),
                               ("/click", b"Done Command:  Mouse Click")):
                status, _, _, body = parse(get(program.port, path))
                self.assertEqual(status, "HTTP/1.1 200 OK")
                self.assertIn(text, body)
            self.assertEqual(probe.settle(quiet=1.5),
                             ["KEY_DOWN Next", "KEY_UP Next", "KEY_DOWN Prior", "KEY_UP Prior",
                              "BUTTON_DOWN left", "BUTTON_UP left"])

            # The screenshot is the monitor as Mutter itself sees it.
            status, _, headers, jpeg = parse(get(program.port, "/getss1", timeout=30))
            self.assertEqual(status, "HTTP/1.1 200 OK")
            tmp = tempfile.mkdtemp(prefix="orvantis-gnome-")
            self.addCleanup(shutil.rmtree, tmp, True)
            os.chown(tmp, session.user.pw_uid, session.user.pw_gid)
            with open(os.path.join(tmp, "program.jpg"), "wb") as f:
                f.write(jpeg)
            reference = os.path.join(tmp, "mutter.ppm")
            session.desktop("screenshot", reference)
            compare = subprocess.run([os.path.join(BUILD_DIR, "tests", "wayland", "jpeg_vs_ppm"),
                                      os.path.join(tmp, "program.jpg"), reference], capture_output=True, text=True)
            self.assertEqual(compare.returncode, 0, compare.stdout + compare.stderr)
            sys.stderr.write("/getss against Mutter's own screen cast: " + compare.stdout)
            figures = dict(f.split("=") for f in compare.stdout.split()[2:])
            self.assertTrue(compare.stdout.startswith("1920x1080 1920x1080"), compare.stdout)
            # JPEG noise at quality 75; the clock may turn over between
            # the two pictures, which moves the 99th percentile not at all.
            self.assertLess(float(figures["mean"]), 4, compare.stdout)
            self.assertLess(float(figures["p99"]), 40, compare.stdout)

            # The desktop's end of the session goes away (its portal backend
            # ends, which stops Mutter's session): a notice, and the server
            # goes on serving.
            backend = session.session_process("xdg-desktop-portal-gnome")
            self.assertIsNotNone(backend)
            os.kill(backend, 15)
            session.desktop("dismiss", LOST)
            status, _, _, body = parse(get(program.port, "/"))
            self.assertIn(b"Welcome to Orvantis", body)
            # The next command fails and asks again: the dialog again, or
            # on a portal that keeps the consent, the restore token instead,
            # and the token the portal hands back is kept for the next start.
            self.assertTrue(no_answer(program.port, "/next"))
            if not self.keeps_consent:
                session.desktop("answer", "share")
            self.granted(2)
            if self.keeps_consent:
                with open(token) as f:
                    self.assertTrue(f.read().strip())
            # Its commands run again, and its stream sends the screen again.
            status, _, _, body = parse(get(program.port, "/next"))
            self.assertIn(b"Done Command: Next Slide", body)
            status, _, _, jpeg = parse(get(program.port, "/getss2", timeout=30))
            self.assertEqual(status, "HTTP/1.1 200 OK")
            self.assertEqual(jpeg[:2], b"\xff\xd8")
            # Closing the window ends the program, session and stream with it.
            session.desktop("close", "Orvantis")
            self.assertEqual(program.proc.wait(30), 0)
        except BaseException:
            self.fail_with_logs(probe)
            raise


if __name__ == "__main__":
    wlharness.main("gnome")
