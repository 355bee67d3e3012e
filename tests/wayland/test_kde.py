"""The program in a headless KWin session, as an ordinary user would run it
there. Plasma 5.27's portal grants remote control to programs that are not
sandboxed without asking (it only shows a notification); Plasma 6's asks in
a dialog, which the test answers (through the accessibility bus), and
offers to remember the answer: the program keeps the portal's restore
token, and its next start gets control without the dialog."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wlharness  # noqa: E402
from harness import get, parse, wait_until  # noqa: E402

session = None


def setUpModule():
    global session
    session = wlharness.start_session("kde")


def tearDownModule():
    if session:
        session.stop()


class Portal(unittest.TestCase):
    def test_commands_reach_a_wayland_window(self):
        program = session.program()
        self.addCleanup(program.cleanup)
        probe = None
        try:
            program.start()
            self.assertEqual(program.backend_line(), "orvantis: desktop backend: portal")
            asks = session.plasma >= 6
            if asks:
                session.desktop("answer", "share")
            wait_until(lambda: "portal: remote control granted" in program.output(), 60, step=0.2,
                       what="the program to get remote control")
            # The probe comes after the program's window, which would take
            # the focus from it.
            session.desktop("window", "Orvantis")
            probe = wlharness.WaylandProbe(session)
            self.addCleanup(probe.stop)
            # KWin puts the new window under the pointer and gives it the
            # keyboard.
            wait_until(lambda: probe.keyboard_focus and probe.pointer_inside, 20, step=0.1,
                       what="the Wayland probe to get the keyboard (%s) and the pointer (%s)" % (
                           probe.keyboard_focus, probe.pointer_inside))
            for path, text in (("/next", b"Done Command: Next Slide"), ("/prev", b"Done Command: Previous Slide"),
                               ("/click", b"Done Command:  Mouse Click")):
                status, _, _, body = parse(get(program.port, path))
                self.assertEqual(status, "HTTP/1.1 200 OK")
                self.assertIn(text, body)
            self.assertEqual(probe.settle(quiet=1.5),
                             ["KEY_DOWN Next", "KEY_UP Next", "KEY_DOWN Prior", "KEY_UP Prior",
                              "BUTTON_DOWN left", "BUTTON_UP left"])
            if asks:
                # The next start of the program, by the same user, gets
                # control through the kept token: no dialog to answer.
                program.kill()
                again = session.program(home=program.home)
                self.addCleanup(again.cleanup)
                again.start()
                wait_until(lambda: "portal: remote control granted" in again.output(), 60, step=0.2,
                           what="the program's next start to get remote control without the dialog")
                status, _, _, body = parse(get(again.port, "/next"))
                self.assertIn(b"Done Command: Next Slide", body)
        except BaseException:
            sys.stderr.write("--- program output ---\n" + program.output() + session.describe_failure())
            if probe:
                sys.stderr.write("--- Wayland probe ---\n" + "".join(probe.raw[-40:]))
            raise

    @unittest.skip("KWin's screen cast negotiates a format but sends no frames with software rendering on "
                   "these machines, so /getss finds no picture (it answers 'Sorry') and cannot be checked here")
    def test_screenshot_shows_the_screen(self):
        pass


if __name__ == "__main__":
    wlharness.main("kde")
