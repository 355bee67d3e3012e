"""The program in a headless sway session (a wlroots compositor) with
XWayland, as an ordinary user would run it there."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wlharness  # noqa: E402
from harness import get, parse  # noqa: E402

session = None


def setUpModule():
    global session
    session = wlharness.start_session("sway")


def tearDownModule():
    if session:
        session.stop()


class ForcedBackend(unittest.TestCase):
    def test_orvantis_backend_x11_forces_x11_in_a_wayland_session(self):
        program = session.program()
        try:
            program.start(env={"ORVANTIS_BACKEND": "x11"})
            self.assertEqual(program.backend_line(), "orvantis: desktop backend: x11 (ORVANTIS_BACKEND)")
            status, _, _, _ = parse(get(program.port, "/"))
            self.assertEqual(status, "HTTP/1.1 200 OK")
        except BaseException:
            sys.stderr.write("--- program output ---\n" + program.output() + session.describe_failure())
            raise
        finally:
            program.cleanup()


if __name__ == "__main__":
    wlharness.main("sway")
