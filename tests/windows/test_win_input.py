"""The commands' effects under Windows (Wine): /next? and /prev? press and
release Page Down and Page Up in the focused window, /click? clicks the
primary mouse button where the pointer is. keyprobe.exe is that window."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winharness as wh  # noqa: E402
from winharness import get, parse  # noqa: E402

VK_PRIOR, VK_NEXT = 0x21, 0x22
# What a PC keyboard sends for them: E0 51 and E0 49.

program = None


def start_program():
    global program
    program = wh.WindowsProgram().start()
    program.main_window()


def stop_program():
    global program
    if program:
        program.cleanup()
        program = None


def command(path, done):
    status, _, _, body = parse(get(program.port, path))
    assert status == "HTTP/1.1 200 OK", status
    assert done.encode() in body, "%s: no %r on the page" % (path, done)


class Commands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start_program()

    @classmethod
    def tearDownClass(cls):
        stop_program()

    def setUp(self):
        # Started after the main window, so it has the focus.
        self.probe = wh.KeyProbe()
        self.assertTrue(self.probe.focused, "the probe window did not get the keyboard focus")
        x, y, w, h = wh.PROBE_RECT
        self.assertEqual(self.probe.pointer, (x + w // 2, y + h // 2))

    def tearDown(self):
        self.probe.stop()

    def test_next_and_prev_press_and_release_page_down_and_page_up(self):
        command("/next?", "Done Command: Next Slide")
        command("/prev?", "Done Command: Previous Slide")
        events = self.probe.read_events(4)
        self.assertEqual([(e[0], e[1]) for e in events],
                         [("KEYDOWN", (VK_NEXT,)), ("KEYUP", (VK_NEXT,)),
                          ("KEYDOWN", (VK_PRIOR,)), ("KEYUP", (VK_PRIOR,))])
        for (kind, (vk,), fields) in events:
            lparam = fields["lparam"]
            # The records carry the virtual-key code alone: no scan code and
            # no extended-key flag are added to it.
            self.assertFalse(lparam & (1 << 24), "%s 0x%02X is marked extended: 0x%08X" % (kind, vk, lparam))
            self.assertEqual(lparam & 0xFFFF, 1, "repeat count")
            # Bits 30 and 31: previous state and transition, set on release.
            self.assertEqual(lparam >> 30, 0 if kind == "KEYDOWN" else 3, "0x%08X" % lparam)
        # Each key is held about 20 ms, long enough for programs that poll.
        for down, up in ((events[0], events[1]), (events[2], events[3])):
            held = up[2]["t"] - down[2]["t"]
            self.assertGreaterEqual(held, 15, "key held only %d ms" % held)
            self.assertLess(held, 1000, "key held %d ms" % held)
        self.assertEqual(self.probe.settle(0.3)[4:], [], "more than the two key presses arrived")

    def test_click_presses_the_primary_button_where_the_pointer_is(self):
        command("/click?", "Done Command:  Mouse Click")
        _, _, w, h = wh.PROBE_RECT
        events = self.probe.read_events(2)
        self.assertEqual([(e[0], e[1]) for e in events],
                         [("LBUTTONDOWN", (w // 2, h // 2)), ("LBUTTONUP", (w // 2, h // 2))])
        self.assertEqual(self.probe.settle(0.3)[2:], [])


class LeftHandedUser(unittest.TestCase):
    """The mouse settings swap the buttons: the primary button is the
    physical right one. Wine reads the setting once per process, so it is
    made before the program and the probe start (Windows applies a change
    at once)."""

    @classmethod
    def setUpClass(cls):
        assert wh.probe_run("swap", 1) == ["SWAPPED 0"]
        try:
            start_program()
        except BaseException:
            wh.probe_run("swap", 0)
            raise

    @classmethod
    def tearDownClass(cls):
        stop_program()
        wh.probe_run("swap", 0)

    def test_click_arrives_like_a_click_of_the_primary_button(self):
        self.assertEqual(wh.probe_run("screen")[1], "SWAPBUTTON 1")
        probe = wh.KeyProbe()
        try:
            # The user's primary button, pressed by hand: the X server's
            # button 3. Windows delivers it as WM_LBUTTON*; Wine, which does
            # not swap buttons, as WM_RBUTTON*. The program's click must come
            # out the same either way.
            wh.harness.x("xdotool", "click", "3")
            by_hand = [e[0] for e in probe.read_events(2)]
            self.assertEqual(len(by_hand), 2, by_hand)
            command("/click?", "Done Command:  Mouse Click")
            events = [e[0] for e in probe.read_events(4)[2:]]
        finally:
            probe.stop()
        self.assertEqual(events, by_hand, "the program's click is not the primary button's")


if __name__ == "__main__":
    wh.main()
