"""What orvantis.exe answers on the wire under Windows (Wine): the control
page, the served pictures, and screenshots of the display made with GDI."""

import os
import re
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winharness as wh  # noqa: E402
from winharness import get, jpeg_size, parse  # noqa: E402

DISPLAY = (1280, 800)
program = None


def setUpModule():
    global program
    wh.limit_send_buffers()
    program = wh.WindowsProgram().start()
    program.main_window()


def tearDownModule():
    if program:
        program.cleanup()


def header(status, content_type, length):
    return ("HTTP/1.1 %d OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: %s\r\ncontent-length: %d\r\n"
            "Connection: close\r\n\r\n" % (status, content_type, length)).encode()


def decode_jpeg(data):
    """(width, height, rgb bytes) through djpeg (libjpeg-turbo-progs)."""
    ppm = subprocess.run(["djpeg", "-pnm"], input=data, capture_output=True, check=True, timeout=30).stdout
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    assert m, "djpeg gave no binary PPM"
    return int(m.group(1)), int(m.group(2)), ppm[m.end():]


def pixel(image, x, y):
    w, _, rgb = image
    i = (y * w + x) * 3
    return tuple(rgb[i:i + 3])


class Answers(unittest.TestCase):
    def test_control_page_is_the_golden_page_with_the_current_time(self):
        self.assertEqual(program.port, 80)
        before = int(time.time())
        answer = get(80, "/")
        after = int(time.time())
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertEqual(head + b"\r\n\r\n", header(200, "text/html", len(body)))
        stamps = re.findall(rb"/getss(\d+)", body)
        self.assertEqual(len(stamps), 1, body)
        # The page asks for a screenshot named after the PC's clock, in
        # seconds since 1970 (UTC), whatever the time zone.
        self.assertTrue(before - 1 <= int(stamps[0]) <= after + 1, (before, stamps[0], after))
        with open(wh.GOLDEN_PAGE, "rb") as f:
            golden = f.read()
        self.assertEqual(body.replace(b"/getss" + stamps[0], b"/getss" + wh.GOLDEN_STAMP), golden)

    def test_pictures_are_served_byte_for_byte_and_unknown_files_are_not_found(self):
        with open(os.path.join(program.folder, "bg.gif"), "rb") as f:
            expected = f.read()
        self.assertEqual(get(80, "/bg.gif"), header(200, "image/GIF", len(expected)) + expected)
        # Browsers ask for it on their own: an empty 404, no body at all.
        self.assertEqual(get(80, "/favicon.ico"), header(404, "text/html", 0))


class Screenshots(unittest.TestCase):
    def setUp(self):
        self.probes = []

    def tearDown(self):
        for p in self.probes:
            p.stop()

    def probe(self, **kw):
        p = wh.KeyProbe(**kw)
        self.probes.append(p)
        return p

    def test_screenshot_is_a_jpeg_of_the_whole_display_showing_what_is_on_it(self):
        self.assertEqual(wh.screen_size(), DISPLAY)
        self.probe()
        time.sleep(0.3)
        status, _, headers, body = parse(get(80, "/getss%d" % time.time(), timeout=30))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["content-type"], "image/JPEG")
        self.assertEqual(jpeg_size(body), DISPLAY)
        # The probe window, upper left: its colour (channels not swapped) at
        # its place (rows not upside down).
        image = decode_jpeg(body)
        x, y, w, h = wh.PROBE_RECT
        for px, py in ((x + w // 2, y + h // 2), (x + 10, y + 10), (x + w - 10, y + h - 10)):
            for got, want in zip(pixel(image, px, py), wh.PROBE_RGB):
                self.assertAlmostEqual(got, want, delta=12, msg="pixel %d,%d" % (px, py))
        below = pixel(image, x + w // 2, DISPLAY[1] - 1 - (y + h // 2))
        self.assertFalse(all(abs(a - b) <= 12 for a, b in zip(below, wh.PROBE_RGB)),
                         "the probe's colour also where its mirror image would be")
        # The same capture is left in the program's folder.
        with open(os.path.join(program.folder, "ss.jpg"), "rb") as f:
            self.assertEqual(f.read(), body)

    def test_large_screenshot_reaches_a_slow_phone_whole(self):
        # Random pixels over most of the display make a JPEG many times larger
        # than the (capped) socket buffers, so the program has to wait for
        # the reader again and again.
        self.probe(rect=(0, 0, DISPLAY[0], DISPLAY[1] - 40), noise=True)
        time.sleep(0.3)
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.settimeout(20)
        s.connect(("127.0.0.1", 80))
        s.sendall(b"GET /getss%d HTTP/1.1\r\nHost: pc\r\n\r\n" % time.time())
        chunks = []
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            data = s.recv(8192)
            if not data:
                break
            chunks.append(data)
            time.sleep(0.002)
        s.close()
        status, _, headers, body = parse(b"".join(chunks))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertGreater(len(body), 400000, "the noise should not compress")
        self.assertEqual(jpeg_size(body), DISPLAY)
        self.assertEqual(body[-2:], b"\xff\xd9", "the JPEG is cut short")


if __name__ == "__main__":
    wh.main("%dx%dx24" % DISPLAY)
