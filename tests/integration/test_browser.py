"""The control page in a real browser, the way a phone uses it.

Debian's Chromium runs headless with a phone's viewport and is driven over
the DevTools protocol on --remote-debugging-pipe (fd 3 in, fd 4 out,
NUL-separated JSON), so no websocket client is needed. The buttons are tapped
with real touch events at their place on the screen; an X window of the test
(xevent_probe) reports what the program injected into the desktop.

Set ORVANTIS_UPDATE_DOCS=1 to rewrite docs/control-page.png, the page as the
phone shows it.
"""

import base64
import contextlib
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

CHROMIUM = os.environ.get("ORVANTIS_CHROMIUM", "/usr/bin/chromium")
DOCS_PICTURE = os.path.join(harness.SOURCE_DIR, "docs", "control-page.png")

# A phone held upright.
PHONE = {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True}
PHONE_USER_AGENT = ("Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) "
                    "Chrome/124.0.0.0 Mobile Safari/537.36")

DISPLAY_SIZE = (1920, 1080)
SHOWN_SIZE = (300, 225)

# Button label -> (path of the form's action, message of the answer, what the
# desktop must see).
BUTTONS = [
    ("Next Slide", "/next", "Done Command: Next Slide", ["KEY_DOWN Next", "KEY_UP Next"]),
    ("Previous Slide", "/prev", "Done Command: Previous Slide", ["KEY_DOWN Prior", "KEY_UP Prior"]),
    ("Mouse Click", "/click", "Done Command:  Mouse Click", ["BUTTON_DOWN 1 100 100", "BUTTON_UP 1 100 100"]),
    ("Refresh Screenshot", "/refresh", "Done Command: Refresh Screenshot", []),
]

# What the page shows, read from the DOM: the message is the first text after
# the heading, taken as it is (trimmed only, so doubled spaces stay visible);
# the screenshot image with its natural and displayed sizes; the buttons.
PAGE_STATE_JS = r"""
(() => {
  const h1 = document.querySelector('h1');
  let message = null;
  if (h1) {
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    walker.currentNode = h1;
    let node;
    while ((node = walker.nextNode())) {
      if (h1.contains(node)) continue;
      if (node.data.trim()) { message = node.data.trim(); break; }
    }
  }
  const img = document.querySelector('img');
  const r = img ? img.getBoundingClientRect() : null;
  return {
    href: location.href,
    pathname: location.pathname,
    readyState: document.readyState,
    title: h1 ? h1.textContent : null,
    message: message,
    bodyText: document.body ? document.body.innerText : '',
    images: document.images.length,
    img: img ? {
      src: img.getAttribute('src'),
      complete: img.complete,
      naturalWidth: img.naturalWidth,
      naturalHeight: img.naturalHeight,
      width: r.width,
      height: r.height,
      visible: r.width > 0 && r.height > 0 && getComputedStyle(img).visibility === 'visible',
    } : null,
    buttons: [...document.querySelectorAll('form input[type=submit]')].map(b => ({
      value: b.value,
      method: b.form.getAttribute('method'),
      action: b.form.getAttribute('action'),
    })),
  };
})()
"""

# Colour of one pixel of the loaded screenshot, in the display's coordinates.
PIXEL_JS = r"""
((x, y) => {
  const img = document.querySelector('img');
  const c = document.createElement('canvas');
  c.width = img.naturalWidth; c.height = img.naturalHeight;
  const g = c.getContext('2d');
  g.drawImage(img, 0, 0);
  return Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3));
})(%d, %d)
"""

# Where a button is, in the CSS pixels of the page that touch events take
# (the browser applies the zoom that fits the 980 px wide page to the phone),
# and whether a tap there really hits it.
BUTTON_PLACE_JS = r"""
((label) => {
  const b = [...document.querySelectorAll('input[type=submit]')].find(e => e.value === label);
  if (!b) return null;
  b.scrollIntoViewIfNeeded();
  const r = b.getBoundingClientRect();
  const x = r.left + r.width / 2, y = r.top + r.height / 2;
  return {x: x, y: y, hit: document.elementFromPoint(x, y) === b};
})(%s)
"""


class ProtocolError(Exception):
    pass


class Chromium:
    """Headless Chromium with a DevTools connection over a pipe pair."""

    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="orvantis-browser-")
        self.proc = None
        self.log = open(os.path.join(self.tmp, "chromium.log"), "w+")
        self.next_id = 0
        self.lock = threading.Lock()
        self.answers = {}
        self.answered = threading.Condition(self.lock)
        self.events = []  # (method, params, sessionId), in order of arrival
        self.closed = False
        self.to_browser = None
        self.from_browser = None

    def start(self):
        # The browser reads commands from fd 3 and writes answers to fd 4.
        # Its ends of the pipes are moved above the low numbers first, so the
        # shell's redirections cannot trample one with the other (bash, as
        # dash takes single-digit descriptors only).
        cmd_r, cmd_w = os.pipe()
        ans_r, ans_w = os.pipe()
        child_in = fcntl.fcntl(cmd_r, fcntl.F_DUPFD, 10)
        child_out = fcntl.fcntl(ans_w, fcntl.F_DUPFD, 10)
        os.close(cmd_r)
        os.close(ans_w)
        flags = [
            "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--disable-quic", "--disable-extensions",
            "--disable-default-apps", "--mute-audio", "--hide-scrollbars", "--no-default-browser-check",
            "--user-data-dir=" + os.path.join(self.tmp, "profile"), "--remote-debugging-pipe",
            "--window-size=%d,%d" % (PHONE["width"], PHONE["height"]), "about:blank",
        ]
        script = 'exec 3<&%d 4>&%d %d<&- %d>&-; exec "$@"' % (child_in, child_out, child_in, child_out)
        try:
            self.proc = subprocess.Popen(["bash", "-c", script, "chromium", CHROMIUM] + flags,
                                         pass_fds=(child_in, child_out), stdin=subprocess.DEVNULL,
                                         stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True,
                                         env=dict(os.environ, HOME=self.tmp))
        finally:
            os.close(child_in)
            os.close(child_out)
        self.to_browser = cmd_w
        self.from_browser = ans_r
        threading.Thread(target=self._read, daemon=True).start()
        self.call("Browser.getVersion", timeout=30)
        return self

    def _read(self):
        pending = b""
        while True:
            try:
                data = os.read(self.from_browser, 1 << 20)
            except OSError:
                data = b""
            if not data:
                break
            pending += data
            while b"\0" in pending:
                raw, pending = pending.split(b"\0", 1)
                message = json.loads(raw)
                with self.lock:
                    if "id" in message:
                        self.answers[message["id"]] = message
                    else:
                        self.events.append((message.get("method"), message.get("params", {}),
                                            message.get("sessionId")))
                    self.answered.notify_all()
        with self.lock:
            self.closed = True
            self.answered.notify_all()

    def call(self, method, params=None, session=None, timeout=15):
        with self.lock:
            self.next_id += 1
            mid = self.next_id
        message = {"id": mid, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        with self.lock:
            while mid not in self.answers:
                left = deadline - time.monotonic()
                if self.closed:
                    raise ProtocolError("browser went away during %s" % method)
                if left <= 0:
                    raise ProtocolError("no answer to %s within %ss" % (method, timeout))
                self.answered.wait(left)
            answer = self.answers.pop(mid)
        if "error" in answer:
            raise ProtocolError("%s: %s" % (method, answer["error"]))
        return answer.get("result", {})

    def mark(self):
        with self.lock:
            return len(self.events)

    def wait_event(self, method, since=0, session=None, match=lambda params: True, timeout=15):
        """Returns (index, params) of the first matching event at or after
        index `since`."""
        deadline = time.monotonic() + timeout
        with self.lock:
            i = since
            while True:
                while i < len(self.events):
                    m, params, s = self.events[i]
                    if m == method and (session is None or s == session) and match(params):
                        return i, params
                    i += 1
                left = deadline - time.monotonic()
                if self.closed:
                    raise ProtocolError("browser went away waiting for %s" % method)
                if left <= 0:
                    raise ProtocolError("no %s event within %ss" % (method, timeout))
                self.answered.wait(left)

    def events_since(self, since, method=None):
        with self.lock:
            return [(m, p) for m, p, _ in self.events[since:] if method is None or m == method]

    def output(self, lines=100):
        """The end of what the browser printed, less its complaints about
        the missing D-Bus."""
        self.log.flush()
        self.log.seek(0)
        return "\n".join([line for line in self.log.read().splitlines() if "dbus" not in line][-lines:])

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                self.call("Browser.close", timeout=5)
            except (ProtocolError, OSError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        # Whatever is left of the browser's own process group (renderers,
        # zygote) goes with it.
        if self.proc:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        for fd in (self.to_browser, self.from_browser):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.to_browser = self.from_browser = None

    def cleanup(self):
        self.stop()
        self.log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


class Tab:
    """One page target of the browser, set up as a phone."""

    def __init__(self, browser):
        self.browser = browser
        self.target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.call("Target.attachToTarget", {"targetId": self.target,
                                                              "flatten": True})["sessionId"]
        for method in ("Page.enable", "Runtime.enable", "Network.enable"):
            self.call(method)
        self.call("Emulation.setDeviceMetricsOverride", PHONE)
        self.call("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
        self.call("Emulation.setUserAgentOverride", {"userAgent": PHONE_USER_AGENT, "platform": "Android"})
        self.frame = self.call("Page.getFrameTree")["frameTree"]["frame"]["id"]

    def call(self, method, params=None, timeout=15):
        return self.browser.call(method, params, session=self.session, timeout=timeout)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise ProtocolError("script failed: %s" % json.dumps(result["exceptionDetails"])[:1000])
        return result["result"].get("value")

    def wait_loaded(self, since, timeout=15):
        """Waits for the main frame to navigate after event index `since` and
        for that document's load event (which waits for its images)."""
        i, params = self.browser.wait_event(
            "Page.frameNavigated", since, self.session,
            lambda p: p["frame"]["id"] == self.frame and not p["frame"].get("parentId"), timeout)
        self.browser.wait_event("Page.loadEventFired", i, self.session, timeout=timeout)
        return params["frame"]["url"]

    def open(self, url):
        since = self.browser.mark()
        result = self.call("Page.navigate", {"url": url})
        if result.get("errorText"):
            raise ProtocolError("navigation to %s failed: %s" % (url, result["errorText"]))
        return self.wait_loaded(since)

    def state(self):
        return self.evaluate(PAGE_STATE_JS)

    def tap(self, label):
        """Taps the submit button with this label where it is on the screen."""
        place = self.evaluate(BUTTON_PLACE_JS % json.dumps(label))
        if not place:
            raise AssertionError("no button %r on the page" % label)
        if not place["hit"]:
            raise AssertionError("button %r is covered by something else" % label)
        point = {"x": place["x"], "y": place["y"], "radiusX": 4, "radiusY": 4, "force": 1, "id": 0}
        self.call("Input.dispatchTouchEvent", {"type": "touchStart", "touchPoints": [point]})
        time.sleep(0.05)
        self.call("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})
        return place

    def picture(self):
        return base64.b64decode(self.call("Page.captureScreenshot", {"format": "png"})["data"])


def png_size(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


display = harness.VirtualDisplay("%dx%dx24" % DISPLAY_SIZE)


def setUpModule():
    display.start()


def tearDownModule():
    display.stop()


class ControlPageInABrowser(unittest.TestCase):
    """One program and one browser for the class; a fresh tab per test."""

    @classmethod
    def setUpClass(cls):
        cls.program = harness.Program()
        cls.browser = Chromium()
        try:
            cls.program.start()
            cls.program.main_window()
            cls.base = "http://127.0.0.1" + ("" if cls.program.port == 80 else ":%d" % cls.program.port)
            cls.browser.start()
        except BaseException:
            sys.stderr.write("--- program output ---\n%s\n--- chromium output ---\n%s\n" % (
                cls.program.output(), cls.browser.output()))
            cls.browser.cleanup()
            cls.program.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.cleanup()
        cls.program.cleanup()

    def setUp(self):
        self.probe = None
        self.tab = None
        with self.reporting():
            self.tab = Tab(self.browser)

    def tearDown(self):
        if self.probe:
            self.probe.stop()
            self.probe.proc.stdin.close()
            self.probe.proc.stdout.close()
        if self.tab:
            try:
                self.browser.call("Target.closeTarget", {"targetId": self.tab.target}, timeout=5)
            except (ProtocolError, OSError):
                pass  # the browser goes at the end of the class anyway

    @contextlib.contextmanager
    def reporting(self):
        """Writes what the program, the probe and the browser did when the
        block fails."""
        try:
            yield
        except BaseException:
            notes = ["--- program output ---", self.program.output()]
            if self.probe:
                notes += ["--- probe events ---", repr(self.probe.settle(0.2))]
            if self.tab:
                try:
                    state = self.tab.state()
                    state["bodyText"] = state["bodyText"][:400]
                    notes += ["--- page ---", json.dumps(state, indent=1)]
                except Exception as e:  # noqa: BLE001 - diagnostics only
                    notes += ["--- page not readable: %s" % e]
            notes += ["--- requests and answers ---"]
            for method, p in self.browser.events_since(0):
                if method == "Network.requestWillBeSent":
                    notes.append("> %s %s" % (p["request"]["method"], p["request"]["url"]))
                elif method == "Network.responseReceived":
                    notes.append("< %s %s %s" % (p["response"]["status"], p["response"]["mimeType"],
                                                 p["response"]["url"]))
                elif method == "Network.loadingFailed":
                    notes.append("< failed: %s" % p.get("errorText"))
            notes += ["--- chromium output ---", self.browser.output()]
            sys.stderr.write("\n".join(notes) + "\n")
            raise

    # --- checks shared by the tests ---

    def check_screenshot_shown(self, state, not_before):
        img = state["img"]
        self.assertIsNotNone(img, "no screenshot image on the page")
        self.assertEqual(state["images"], 1)
        self.assertRegex(img["src"], r"^/getss\d+$")
        stamp = int(img["src"][len("/getss"):])
        self.assertGreaterEqual(stamp, int(not_before) - 1, "time stamp of the screenshot URL is old")
        self.assertLessEqual(stamp, time.time() + 1, "time stamp of the screenshot URL is in the future")
        self.assertTrue(img["complete"], "screenshot did not finish loading")
        self.assertEqual((img["naturalWidth"], img["naturalHeight"]), DISPLAY_SIZE,
                         "screenshot is not the whole display")
        self.assertEqual((img["width"], img["height"]), SHOWN_SIZE, "screenshot shown at the wrong size")
        self.assertTrue(img["visible"])
        return img["src"]

    def check_fetched_as_jpeg(self, since, src):
        """The browser fetched this screenshot from the program, not from its
        cache (a stale one would show the slide before), and got a JPEG."""
        url = self.base + src
        answers = [p["response"] for m, p in self.browser.events_since(since, "Network.responseReceived")
                   if p["response"]["url"] == url]
        self.assertEqual(len(answers), 1, "screenshot %s fetched %d times" % (src, len(answers)))
        self.assertEqual(answers[0]["status"], 200)
        self.assertEqual(answers[0]["mimeType"].lower(), "image/jpeg")

    def check_page(self, state, message):
        self.assertEqual(state["readyState"], "complete")
        self.assertEqual(state["title"], "Orvantis")
        self.assertEqual(state["message"], message)
        # Shown, not only present: the rendered text has the message with its
        # spaces collapsed.
        self.assertIn(" ".join(message.split()), state["bodyText"])
        self.assertEqual([(b["value"], b["method"], b["action"]) for b in state["buttons"]],
                         [("Previous Slide", "LINK", "/prev"), ("Mouse Click", "LINK", "/click"),
                          ("Next Slide", "LINK", "/next"), ("Refresh Screenshot", "LINK", "/refresh")])

    # --- the tests ---

    def test_page_as_the_phone_first_loads_it(self):
        with self.reporting():
            since = self.browser.mark()
            start = time.time()
            url = self.tab.open(self.base + "/")
            self.assertEqual(url, self.base + "/")
            state = self.tab.state()
            self.check_page(state, "Welcome to Orvantis")
            src = self.check_screenshot_shown(state, start)
            self.check_fetched_as_jpeg(since, src)
            background = [p["response"] for m, p in self.browser.events_since(since, "Network.responseReceived")
                          if p["response"]["url"] == self.base + "/bg.gif"]
            self.assertTrue(background, "no background fetched")
            self.assertEqual({(r["status"], r["mimeType"].lower()) for r in background}, {(200, "image/gif")})

            picture = self.tab.picture()
            self.assertEqual(png_size(picture), (PHONE["width"] * PHONE["deviceScaleFactor"],
                                                 PHONE["height"] * PHONE["deviceScaleFactor"]))
            if os.environ.get("ORVANTIS_UPDATE_DOCS") == "1":
                os.makedirs(os.path.dirname(DOCS_PICTURE), exist_ok=True)
                with open(DOCS_PICTURE, "wb") as f:
                    f.write(picture)
                sys.stderr.write("wrote %s\n" % DOCS_PICTURE)

    def test_tapping_each_button_drives_the_desktop(self):
        with self.reporting():
            self.tab.open(self.base + "/")
            self.assertEqual(self.tab.state()["message"], "Welcome to Orvantis")

            # The probe window takes the focus (keys go there) and the pointer
            # rests on it (the click lands there).
            self.probe = harness.EventProbe()
            harness.x("xdotool", "mousemove", "100", "100")
            self.assertEqual(self.probe.settle(0.3), [], "events before any tap")

            for label, path, message, expected in BUTTONS:
                with self.subTest(button=label), self.reporting():
                    before = len(self.probe.events)
                    since = self.browser.mark()
                    start = time.time()
                    self.tab.tap(label)
                    url = self.tab.wait_loaded(since)
                    self.assertTrue(url.endswith(path + "?"), "form sent to %s" % url)
                    parts = urllib.parse.urlsplit(url)
                    self.assertEqual((parts.path, parts.query), (path, ""))
                    state = self.tab.state()
                    self.assertEqual(state["href"], url)
                    self.check_page(state, message)
                    src = self.check_screenshot_shown(state, start)
                    self.check_fetched_as_jpeg(since, src)
                    # The screenshot is the real display: the probe's white
                    # window sits in its top left corner.
                    pixel = self.tab.evaluate(PIXEL_JS % (200, 150))
                    self.assertTrue(all(c >= 235 for c in pixel), "probe window not in the screenshot: %s" % pixel)
                    # One request for the command: a repeated GET would
                    # press the key twice.
                    commands = [p for m, p in self.browser.events_since(since, "Network.requestWillBeSent")
                                if urllib.parse.urlsplit(p["request"]["url"]).path == path]
                    self.assertEqual(len(commands), 1, "%s requested %d times" % (path, len(commands)))
                    self.assertEqual(commands[0]["request"]["method"], "GET")
                    self.probe.read_events(before + len(expected), timeout=5)
                    seen = self.probe.settle(0.5)[before:]
                    self.assertEqual(seen, expected, "desktop events for %s" % label)


if __name__ == "__main__":
    unittest.main()
