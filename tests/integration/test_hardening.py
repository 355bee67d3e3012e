"""The server under hostile and heavy use: random bytes, slow readers that
never read, thousands of mixed requests, and closing the window while
clients hammer it. Every loop is bounded in count and time."""

import os
import random
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
from harness import Program, exchange, get, parse, wait_until  # noqa: E402

display = harness.VirtualDisplay("1920x1080x24")


def setUpModule():
    display.start()


def tearDownModule():
    display.stop()


def resting(p):
    """Threads, open descriptors and resident memory of the program."""
    with open("/proc/%d/status" % p.proc.pid) as f:
        status = f.read()
    rss_kb = int(status.split("VmRSS:")[1].split()[0])
    threads = int(status.split("Threads:")[1].split()[0])
    fds = len(os.listdir("/proc/%d/fd" % p.proc.pid))
    return threads, fds, rss_kb


def wait_for_rest(p, threads, fds, timeout=15):
    """Waits until the workers are gone: back to the resting thread and
    descriptor counts."""
    return wait_until(lambda: (lambda t, f, _: t <= threads and f <= fds)(*resting(p)), timeout, step=0.2,
                      what="threads and descriptors back at rest")


class Hostile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = Program().start()
        cls.p.main_window()
        # Warm up once, so lazily made resources count as resting.
        parse(get(80, "/"))
        parse(get(80, "/getss1"))
        time.sleep(0.5)
        cls.rest = resting(cls.p)

    @classmethod
    def tearDownClass(cls):
        cls.p.cleanup()

    def tearDown(self):
        self.assertIsNone(self.p.proc.poll(), "the program ended:\n" + self.p.output())

    def assert_well_formed_or_silent(self, answer, request):
        if answer == b"":
            return
        status, _, headers, _ = parse(answer)
        self.assertIn(status, ("HTTP/1.1 200 OK", "HTTP/1.1 404 OK"), request[:80])
        self.assertEqual(headers["server"], "Orvantis-1.0.0")

    def test_random_bytes_never_break_the_server(self):
        rnd = random.Random(2026)
        words = [b"GET", b" ", b"/", b"/next", b"/getss", b"/bg.gif", b"?", b"\r\n", b"\x00", b"HTTP/1.1", b"%"]
        for i in range(300):
            length = rnd.randint(1, 4000)
            if i % 2:
                request = bytes(rnd.getrandbits(8) for _ in range(length))
            else:
                parts = []
                while sum(map(len, parts)) < length:
                    parts.append(rnd.choice(words) if rnd.random() < 0.5 else bytes([rnd.getrandbits(8)]))
                request = b"".join(parts)[:length]
            try:
                answer = exchange(80, request, timeout=10)
            except ConnectionResetError:
                answer = b""  # the server closed before reading all of a long request
            self.assert_well_formed_or_silent(answer, request)
        status, _, _, body = parse(get(80, "/"))
        self.assertEqual(status, "HTTP/1.1 200 OK")

    def test_slow_readers_do_not_hold_up_others_or_threads(self):
        slow = []
        try:
            for _ in range(30):
                s = harness.connect(80)
                s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                s.sendall(b"GET /getss1 HTTP/1.1\r\n\r\n")
                slow.append(s)
            time.sleep(0.5)
            start = time.monotonic()
            status, _, _, _ = parse(get(80, "/"))
            self.assertEqual(status, "HTTP/1.1 200 OK")
            self.assertLess(time.monotonic() - start, 1.0, "a page waited behind the slow readers")
            # The screenshots are queued behind each other (one capture at a
            # time), then each worker gives up 2 s after its reader stalls.
            threads, fds, _ = self.rest
            wait_for_rest(self.p, threads, fds + len(slow), timeout=12)
        finally:
            for s in slow:
                s.close()
        wait_for_rest(self.p, self.rest[0], self.rest[1])

    def test_thousands_of_mixed_requests_leave_no_growth(self):
        paths = ["/", "/?x", "/refresh?", "/bg.gif", "/favicon.ico", "/Next", "/index.html"]
        errors = []

        def client(n, seed):
            rnd = random.Random(seed)
            for _ in range(n):
                try:
                    path = rnd.choice(paths)
                    parse(get(80, path))
                except Exception as e:  # noqa: BLE001
                    errors.append(repr(e))

        threads = [threading.Thread(target=client, args=(375, k)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertEqual(errors, [])
        rest_threads, rest_fds, rest_rss = self.rest
        wait_for_rest(self.p, rest_threads, rest_fds)
        _, _, rss = resting(self.p)
        if not os.environ.get("ORVANTIS_SANITIZED"):
            self.assertLess(rss - rest_rss, 8 * 1024, "resident memory grew by %d kB" % (rss - rest_rss))


class TeardownUnderLoad(unittest.TestCase):
    def test_closing_the_window_while_clients_hammer(self):
        p = Program().start()
        try:
            p.main_window()
            status, took = harness.close_while_hammered(p, [b"/getss1", b"/next?", b"/"] * 4, warmup=2)
            self.assertEqual(status, 0, p.output())
            self.assertLess(took, 5, "closing took %.1f s" % took)
            self.assertNotIn("Assert", p.output())
        finally:
            p.cleanup()


if __name__ == "__main__":
    unittest.main()
