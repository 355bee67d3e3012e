"""The answers on the wire, the served files and the commands' effects on a
real X window, with the real program under a private X display."""

import os
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
from harness import EventProbe, Program, exchange, get, jpeg_size, parse  # noqa: E402

display = harness.VirtualDisplay("1920x1080x24")
program = None


def setUpModule():
    global program
    display.start()
    program = Program().start()
    program.main_window()


def tearDownModule():
    program.cleanup()
    display.stop()


def header(status, content_type, length):
    return ("HTTP/1.1 %d OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: %s\r\ncontent-length: %d\r\n"
            "Connection: close\r\n\r\n" % (status, content_type, length)).encode()


class Answers(unittest.TestCase):
    def test_page_answer_exactly(self):
        before = int(time.time())
        answer = get(80, "/")
        after = int(time.time())
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertEqual(head + b"\r\n\r\n", header(200, "text/html", len(body)))
        self.assertNotIn(b"\n", body)
        self.assertIn(b"<p>                Welcome to Orvantis                                                 <TABLE", body)
        stamp = int(body.split(b'src="/getss')[1].split(b'"')[0])
        self.assertTrue(before <= stamp <= after)
        self.assertIn(b'<img width="300" height="225" src="/getss%d"/>' % stamp, body)

    def test_not_found_answers_exactly(self):
        for path in ("/index.html", "/favicon.ico", "/Next"):
            self.assertEqual(get(80, path), header(404, "text/html", 0), path)
        # "/" directly followed by the line end is not "/".
        self.assertEqual(exchange(80, b"GET /\r\n\r\n"), header(404, "text/html", 0))

    def test_silent_cases_close_without_answer(self):
        for request in (b"HEAD / HTTP/1.1\r\n\r\n", b"get / HTTP/1.1\r\n\r\n", b"GE",
                        b"POST /next HTTP/1.1\r\nContent-Length: 0\r\n\r\n"):
            self.assertEqual(exchange(80, request), b"", request)

    def test_request_forms_browsers_and_odd_clients_send(self):
        for request, message in ((b"GET", b"Welcome to Orvantis"),
                                 (b"GET  /?next  HTTP/1.0\r\n\r\n", b"Welcome to Orvantis"),
                                 (b"\x00\x00GET /refresh? HTTP/1.1\r\n\r\n", b"Done Command: Refresh Screenshot"),
                                 (b"GET /?" + b"a" * 4000 + b" HTTP/1.1\r\n\r\n", b"Welcome to Orvantis")):
            status, _, _, body = parse(exchange(80, request))
            self.assertEqual(status, "HTTP/1.1 200 OK")
            self.assertIn(message, body)


class Files(unittest.TestCase):
    def bg(self):
        return os.path.join(program.workdir, "bg.gif")

    def test_background_is_sent_byte_for_byte(self):
        with open(self.bg(), "rb") as f:
            expected = f.read()
        self.assertEqual(get(80, "/bg.gif"), header(200, "image/GIF", len(expected)) + expected)

    def test_background_missing_or_empty_is_not_found(self):
        saved = self.bg() + ".saved"
        os.rename(self.bg(), saved)
        try:
            self.assertEqual(get(80, "/bg.gif"), header(404, "text/html", 0))
            open(self.bg(), "wb").close()
            self.assertEqual(get(80, "/bg.gif"), header(404, "text/html", 0))
        finally:
            os.replace(saved, self.bg())

    def test_screenshot_is_a_jpeg_of_the_whole_display(self):
        status, lines, headers, body = parse(get(80, "/getss1765432109"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["content-type"], "image/JPEG")
        self.assertEqual(jpeg_size(body), (1920, 1080))
        # The same capture is left in the working directory.
        with open(os.path.join(program.workdir, "ss.jpg"), "rb") as f:
            self.assertEqual(f.read(), body)

    def test_parallel_screenshots_each_get_a_whole_jpeg(self):
        results = []

        def fetch():
            results.append(get(80, "/getss%d" % time.time(), timeout=20))

        threads = [threading.Thread(target=fetch) for _ in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(len(results), 6)
        for answer in results:
            _, _, headers, body = parse(answer)
            self.assertEqual(jpeg_size(body), (1920, 1080))
            self.assertEqual(body[-2:], b"\xff\xd9", "the JPEG is cut short")


class Commands(unittest.TestCase):
    def setUp(self):
        self.probe = EventProbe()
        harness.x("xdotool", "mousemove", "100", "100")

    def tearDown(self):
        self.probe.stop()

    def test_next_and_prev_press_and_release_their_keys(self):
        _, _, _, body = parse(get(80, "/next?"))
        self.assertIn(b"Done Command: Next Slide", body)
        _, _, _, body = parse(get(80, "/prev?"))
        self.assertIn(b"Done Command: Previous Slide", body)
        self.assertEqual(self.probe.read_events(4), ["KEY_DOWN Next", "KEY_UP Next", "KEY_DOWN Prior", "KEY_UP Prior"])

    def test_click_lands_where_the_pointer_is(self):
        _, _, _, body = parse(get(80, "/click?"))
        self.assertIn(b"Done Command:  Mouse Click", body)
        events = self.probe.read_events(2)
        self.assertEqual(events, ["BUTTON_DOWN 1 100 100", "BUTTON_UP 1 100 100"])
        pointer = harness.x("xdotool", "getmouselocation", "--shell")
        self.assertIn("X=100", pointer)
        self.assertIn("Y=100", pointer)

    def test_commands_sent_at_once_never_interleave(self):
        answers = []
        paths = ["/next?", "/prev?", "/next?", "/click?", "/prev?", "/next?"]
        threads = [threading.Thread(target=lambda p=p: answers.append(parse(get(80, p))[0])) for p in paths]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(answers, ["HTTP/1.1 200 OK"] * len(paths))
        events = self.probe.read_events(12)
        self.assertEqual(len(events), 12, events)
        for down, up in zip(events[0::2], events[1::2]):
            self.assertTrue(down.startswith(("KEY_DOWN", "BUTTON_DOWN")), events)
            self.assertEqual(down.replace("DOWN", "UP"), up, events)
        self.assertEqual(sorted(e for e in events if e.startswith("KEY_DOWN")),
                         ["KEY_DOWN Next"] * 3 + ["KEY_DOWN Prior"] * 2)

    def test_refresh_and_page_requests_press_nothing(self):
        for path in ("/refresh?", "/?next", "/", "/bg.gif", "/Next"):
            get(80, path)
        self.assertEqual(self.probe.settle(0.5), [])


if __name__ == "__main__":
    unittest.main()
